// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/DetailsView.h"
#include "platform/image/EmbeddedPreview.h"
#include "platform/image/HeifReader.h"

#include <QAction>
#include <algorithm>
#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <QBuffer>
#include <functional>
#include <map>
#include <string_view>
#include <QFile>
#include <QTransform>
#include <QImageReader>
#include <QPixmap>
#include <QPointer>
#include <QThreadPool>

namespace vesk::desktop {

namespace {

// Where an item's row lives in details_.rows; groups have none.
constexpr int kRowIndexRole = Qt::UserRole + 1;
constexpr int kGroupRole = Qt::UserRole + 2;

QString q(const std::string& s) { return QString::fromStdString(s); }

// How a group is named in the tree: top-level values under their own title.
QString groupTitle(const std::string& group) { return q(group.empty() ? std::string(kTopLevelGroupTitle) : group); }

// A code tree's groups nest by their names: "Studio · arm64 · libraries" lies
// in "arm64", in "Studio".
constexpr std::string_view kNesting = " · ";

bool isRow(const QTreeWidgetItem* item) { return item->data(0, kRowIndexRole).isValid(); }

QTreeWidgetItem* groupItem(QTreeWidget* tree, QTreeWidgetItem* parent, const std::string& path, const std::string& title) {
    auto* group = parent ? new QTreeWidgetItem(parent, {q(title)}) : new QTreeWidgetItem(tree, {q(title)});
    group->setData(0, kGroupRole, q(path));
    group->setFirstColumnSpanned(true);
    QFont bold = group->font(0);
    bold.setBold(true);
    group->setFont(0, bold);
    return group;
}

QString nothingOnShow() {
    return DetailsView::tr("No file on show: drop one anywhere in this window, or choose File > Open (Ctrl+O).");
}

}  // namespace

DetailsView::DetailsView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("detailsView"));
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("summaryLabel"));
    summary_->setTextFormat(Qt::RichText);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    summary_->setText(nothingOnShow());

    copyPosition_ = new QPushButton(tr("Copy Coordinates"), this);
    copyPosition_->setObjectName(QStringLiteral("copyPositionButton"));
    copyPosition_->setToolTip(tr("Copy the GPS position as signed decimal degrees"));
    copyPosition_->setVisible(false);
    connect(copyPosition_, &QPushButton::clicked, this, [this] {
        if (details_.summary.position)
            QApplication::clipboard()->setText(q(positionDecimalText(*details_.summary.position)));
    });

    privacy_ = new QLabel(this);
    privacy_->setObjectName(QStringLiteral("privacyLabel"));
    privacy_->setTextFormat(Qt::RichText);
    privacy_->setWordWrap(true);
    // Tab reaches the label and then each of its items; Enter opens one.
    privacy_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    privacy_->setFocusPolicy(Qt::StrongFocus);
    privacy_->setToolTip(tr("What this file tells about where it was made and who made it; click an item to see its row"));
    connect(privacy_, &QLabel::linkActivated, this, [this](const QString& link) {
        bool ok = false;
        const auto i = link.mid(1).toULongLong(&ok);
        if (!ok || i >= details_.summary.privacy.size()) return;
        const auto& item = details_.summary.privacy[i];
        filter_->clear();
        revealRow(q(item.group), q(item.key));
    });

    filter_ = new QLineEdit(this);
    filter_->setObjectName(QStringLiteral("filterField"));
    filter_->setPlaceholderText(tr("Filter keys and values (Ctrl+F)"));
    filter_->setClearButtonEnabled(true);
    filter_->installEventFilter(this);
    connect(filter_, &QLineEdit::textChanged, this, &DetailsView::setFilter);

    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("propertyTree"));
    tree_->setColumnCount(3);
    tree_->setHeaderLabels({tr("Key"), tr("Value"), tr("Raw value")});
    tree_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree_->setUniformRowHeights(true);
    tree_->setAlternatingRowColors(true);
    tree_->header()->setStretchLastSection(true);
    tree_->setContextMenuPolicy(Qt::ActionsContextMenu);

    copyValue_ = new QAction(tr("Copy Value"), this);
    copyValue_->setShortcut(QKeySequence::Copy);
    copyRow_ = new QAction(tr("Copy Row"), this);
    copyJson_ = new QAction(tr("Copy as JSON"), this);
    copyJson_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    for (QAction* a : {copyValue_, copyRow_, copyJson_}) {
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        tree_->addAction(a);
    }
    connect(copyValue_, &QAction::triggered, this,
            [this] { QApplication::clipboard()->setText(selectedValuesText()); });
    connect(copyRow_, &QAction::triggered, this, [this] { QApplication::clipboard()->setText(selectedRowsText()); });
    connect(copyJson_, &QAction::triggered, this, [this] { QApplication::clipboard()->setText(selectedRowsJson()); });

    preview_ = new QLabel(this);
    preview_->setObjectName(QStringLiteral("previewLabel"));
    preview_->setFixedSize(kPreviewWidth, kPreviewHeight);
    preview_->setAlignment(Qt::AlignCenter);
    preview_->setWordWrap(true);
    preview_->setVisible(false);

    auto* top = new QHBoxLayout;
    top->addWidget(summary_, 1);
    top->addWidget(copyPosition_, 0, Qt::AlignTop);
    top->addWidget(preview_, 0, Qt::AlignTop);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(privacy_);
    layout->addWidget(filter_);
    layout->addWidget(tree_, 1);
    // Takes the room the tree leaves when it is hidden.
    layout->addStretch(0);
}

void DetailsView::display(const Details& details) {
    details_ = details;

    QString html = QStringLiteral("<table cellspacing=\"2\">");
    for (const auto& line : details_.summary.lines)
        html += QStringLiteral("<tr><td><b>%1</b>&nbsp;&nbsp;</td><td>%2</td></tr>")
                    .arg(q(line.label).toHtmlEscaped(), q(line.text).toHtmlEscaped());
    html += QStringLiteral("</table>");
    // With nothing on show the view says how to fill it, rather than stay blank.
    const bool nothing = details_.summary.lines.empty() && details_.rows.empty();
    summary_->setText(nothing ? nothingOnShow()
                              : details_.summary.lines.empty() ? QString() : html);
    copyPosition_->setVisible(details_.summary.position.has_value());

    if (details_.code) {
        QStringList asks;
        for (const auto& name : details_.summary.asksFor.value_or(std::vector<std::string>{})) asks << q(name).toHtmlEscaped();
        privacy_->setText(!details_.summary.asksFor ? QString()
                          : asks.isEmpty()          ? tr("Asks for: nothing the system guards")
                                                    : tr("<b>Asks for:</b> %1").arg(asks.join(QStringLiteral(", "))));
    } else if (details_.summary.privacy.empty()) {
        privacy_->setText(details_.rows.empty() ? QString() : tr("Reveals: nothing about where or who"));
    } else {
        QStringList items;
        for (std::size_t i = 0; i < details_.summary.privacy.size(); ++i)
            items << QStringLiteral("<a href=\"#%1\">%2</a>")
                         .arg(i)
                         .arg(q(details_.summary.privacy[i].label).toHtmlEscaped());
        privacy_->setText(tr("<b>Reveals:</b> %1").arg(items.join(QStringLiteral(" · "))));
    }

    // Bundles and libraries have a summary only.
    filter_->setVisible(!details_.rows.empty());
    tree_->setVisible(!details_.rows.empty());
    tree_->clear();
    QTreeWidgetItem* group = nullptr;
    std::string groupName;
    std::map<std::string, QTreeWidgetItem*> groups;  // a code tree's, by their whole name
    for (std::size_t i = 0; i < details_.rows.size(); ++i) {
        const PropertyRow& row = details_.rows[i];
        if (!group || row.group != groupName) {
            groupName = row.group;
            if (!details_.code) {
                group = groupItem(tree_, nullptr, row.group, groupTitle(row.group).toStdString());
            } else {
                group = nullptr;
                for (std::size_t start = 0; start <= row.group.size();) {
                    std::size_t end = row.group.find(kNesting, start);
                    if (end == std::string::npos) end = row.group.size();
                    const std::string path = row.group.substr(0, end);
                    auto [it, added] = groups.try_emplace(path, nullptr);
                    if (added) it->second = groupItem(tree_, group, path, row.group.substr(start, end - start));
                    group = it->second;
                    start = end + kNesting.size();
                }
            }
        }
        auto* item = new QTreeWidgetItem(group, {q(row.name), q(row.readable), q(row.raw)});
        item->setData(0, kRowIndexRole, static_cast<qulonglong>(i));
        item->setData(0, kGroupRole, q(row.group));
        const QString tip = tr("%1\nraw: %2").arg(q(row.key), q(row.raw));
        for (int c = 0; c < 3; ++c) item->setToolTip(c, tip);
    }
    tree_->expandAll();
    // Keys and readable values in full where the window allows; raw values take the rest.
    tree_->resizeColumnToContents(0);
    tree_->resizeColumnToContents(1);
    tree_->setColumnWidth(1, std::min(tree_->columnWidth(1), std::max(200, tree_->viewport()->width() / 2)));
    setFilter(filter_->text());
}

namespace {

// An embedded picture is at most this; real ones are a few MB at most.
constexpr std::size_t kMaxEmbeddedPreviewBytes = 16 << 20;

QImage decodeScaled(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);  // the photo's orientation is applied, not the picture's own
    const QSize size = reader.size();
    if (!size.isValid() || qint64(size.width()) * size.height() > DetailsView::kMaxPreviewPixels) return {};
    reader.setScaledSize(size.scaled(DetailsView::kPreviewWidth, DetailsView::kPreviewWidth, Qt::KeepAspectRatio).boundedTo(size));
    return reader.read();
}

// EXIF orientations 2 to 8: mirrored and/or turned back upright.
QImage orientedAsExifSays(const QImage& image, int orientation) {
    const auto turned = [&](int degrees) { return image.transformed(QTransform().rotate(degrees)); };
    switch (orientation) {
    case 2: return image.mirrored(true, false);
    case 3: return turned(180);
    case 4: return image.mirrored(false, true);
    case 5: return turned(90).mirrored(true, false);
    case 6: return turned(90);
    case 7: return turned(270).mirrored(true, false);
    case 8: return turned(270);
    default: return image;
    }
}

}  // namespace

void DetailsView::showPreview(const std::string& path) {
    const quint64 generation = ++*previewGeneration_;
    preview_->clear();
    preview_->setVisible(!path.empty());
    if (path.empty()) return;
    preview_->setText(tr("Decoding the preview…"));
    const QString file = QFile::decodeName(QByteArray::fromStdString(path));
    QThreadPool::globalInstance()->start([view = QPointer<DetailsView>(this), latest = previewGeneration_,
                                          generation, file, path] {
        const auto wanted = [&] { return latest->load() == generation; };
        QImage image;
        QString why = tr("No preview: this image cannot be decoded here");
        // The picture the file carries of itself, when it fills the place:
        // a raw file's JPEG preview decodes in a fraction of the raw's time.
        QImage small;
        if (auto embedded = platform::image::embeddedPreview(path, kMaxEmbeddedPreviewBytes); embedded && wanted()) {
            small = orientedAsExifSays(decodeScaled(QByteArray::fromStdString(embedded->bytes)), embedded->orientation);
            if (small.width() >= kPreviewWidth || small.height() >= kPreviewHeight) image = small;
        }
        QImageReader reader(file);
        reader.setAutoTransform(true);  // as the EXIF orientation says
        const QSize size = image.isNull() && wanted() ? reader.size() : QSize();
        if (size.isValid() && qint64(size.width()) * size.height() > kMaxPreviewPixels) {
            why = tr("No preview: the image is larger than %1 megapixels").arg(kMaxPreviewPixels / 1'000'000);
        } else if (size.isValid()) {
            // Decoded small (a JPEG is scaled while it is decoded), whichever way it is turned.
            reader.setScaledSize(size.scaled(kPreviewWidth, kPreviewWidth, Qt::KeepAspectRatio).boundedTo(size));
            image = reader.read();
        } else if (image.isNull() && wanted()) {
            // HEIC and AVIF, which Qt does not decode: libheif, from the file's thumbnail where it has one.
            if (auto picture = platform::image::decodeHeifPreview(path, kMaxPreviewPixels))
                image = QImage(picture->rgba.data(), int(picture->width), int(picture->height), int(picture->width) * 4,
                               QImage::Format_RGBA8888)
                            .copy();
        }
        // A small thumbnail is better than none.
        if (image.isNull()) image = small;
        QMetaObject::invokeMethod(qApp, [view, generation, image, why] {
            if (!view || *view->previewGeneration_ != generation) return;
            if (image.isNull()) {
                view->preview_->setText(why);
                return;
            }
            view->preview_->setPixmap(QPixmap::fromImage(image.scaled(kPreviewWidth, kPreviewHeight,
                                                                      Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        });
    });
}

void DetailsView::setFilter(const QString& text) {
    const std::string needle = text.toStdString();
    // Rows shown under `item`; a group with none is hidden.
    const std::function<int(QTreeWidgetItem*)> filter = [&](QTreeWidgetItem* item) {
        int shown = 0;
        for (int c = 0; c < item->childCount(); ++c) {
            QTreeWidgetItem* child = item->child(c);
            if (isRow(child)) {
                const auto i = child->data(0, kRowIndexRole).toULongLong();
                const bool match = i < details_.rows.size() && rowMatches(details_.rows[i], needle);
                child->setHidden(!match);
                shown += match;
            } else {
                const int inside = filter(child);
                child->setHidden(inside == 0);
                shown += inside;
            }
        }
        return shown;
    };
    filter(tree_->invisibleRootItem());
}

bool DetailsView::revealRow(const QString& group, const QString& key) {
    for (QTreeWidgetItemIterator it(tree_); *it; ++it) {
        QTreeWidgetItem* item = *it;
        if (!isRow(item) || item->data(0, kGroupRole).toString() != group) continue;
        const auto i = item->data(0, kRowIndexRole).toULongLong();
        if (i >= details_.rows.size() || q(details_.rows[i].key) != key) continue;
        for (QTreeWidgetItem* up = item->parent(); up; up = up->parent()) up->setExpanded(true);
        tree_->clearSelection();
        tree_->setCurrentItem(item);
        item->setSelected(true);
        tree_->scrollToItem(item);
        tree_->setFocus();
        return true;
    }
    return false;
}

std::vector<const PropertyRow*> DetailsView::selectedRows() const {
    std::vector<const PropertyRow*> rows;
    // In the tree's order, whatever order they were picked in; a selected
    // group stands for every row shown inside it.
    for (QTreeWidgetItemIterator it(tree_); *it; ++it) {
        QTreeWidgetItem* item = *it;
        if (!isRow(item) || item->isHidden()) continue;
        bool selected = item->isSelected();
        for (QTreeWidgetItem* up = item->parent(); up && !selected; up = up->parent()) selected = up->isSelected();
        const auto i = item->data(0, kRowIndexRole).toULongLong();
        if (selected && i < details_.rows.size()) rows.push_back(&details_.rows[i]);
    }
    return rows;
}

QString DetailsView::selectedValuesText() const {
    QStringList out;
    for (const auto* row : selectedRows()) out << q(row->readable);
    return out.join(QLatin1Char('\n'));
}

QString DetailsView::selectedRowsText() const {
    QStringList out;
    for (const auto* row : selectedRows()) out << q(rowText(*row));
    return out.join(QLatin1Char('\n'));
}

QString DetailsView::selectedRowsJson() const {
    std::vector<PropertyRow> rows;
    for (const auto* row : selectedRows()) rows.push_back(*row);
    return q(rowsJson(rows));
}

bool DetailsView::eventFilter(QObject* watched, QEvent* event) {
    // Esc in the filter box clears it and shows every row again.
    if (watched == filter_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        filter_->clear();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace vesk::desktop
