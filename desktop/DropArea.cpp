// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/DropArea.h"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>
#include <QUrl>

#include <algorithm>
#include <cmath>

#include "views/DragText.h"

namespace vesk::desktop {

namespace {

// The whole window takes drops, whichever view is on show.
const char* const kIdleText =
    "Drop a photo, a macOS bundle (.app, .bundle, .framework) or a library anywhere on this window";

// WCAG's relative luminance and contrast ratio.
double luminance(const QColor& c) {
    const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// What the drop area is filled with, inside its frame.
QColor areaFill(const QWidget& widget) { return widget.palette().color(QPalette::Base).darker(103); }

// The view's drawing operations on a QPainter.
class PainterContext : public vesk::DrawingContext {
public:
    PainterContext(QPainter& painter, QWidget& widget) : painter_(painter), widget_(widget) {
        painter_.setRenderHint(QPainter::Antialiasing);
    }

    void drawBase(const vesk::Rect&) override {
        painter_.save();
        // A faint dashed frame marks where drops go; the highlight, when it
        // comes, is drawn over it.
        QPen frame(widget_.palette().color(QPalette::Mid), 1.5, Qt::DashLine);
        painter_.setPen(frame);
        painter_.setBrush(areaFill(widget_));
        painter_.drawRoundedRect(QRectF(widget_.rect()).adjusted(1, 1, -1, -1), 6, 6);
        painter_.setPen(widget_.palette().color(QPalette::PlaceholderText));
        painter_.drawText(widget_.rect(), Qt::AlignCenter | Qt::TextWordWrap, QString::fromUtf8(kIdleText));
        painter_.restore();
    }
    void setDefaultLineWidth(double width) override { pen_.setWidthF(width); }
    void setColor(const vesk::Color& c) override { pen_.setColor(QColor::fromRgbF(float(c.red), float(c.green), float(c.blue), float(c.alpha))); }
    void strokeRect(const vesk::Rect& r) override {
        // The pen is centred on the rectangle's edges, as the view asks.
        painter_.setPen(pen_);
        painter_.setBrush(Qt::NoBrush);
        painter_.drawRect(QRectF(r.x, r.y, r.width, r.height));
        // Pure blue is nearly lost on a dark background (1.3:1 on #3B3B3B):
        // there a light line runs inside it, so the outline keeps 3:1.
        const QColor ground = areaFill(widget_);
        if (contrast(pen_.color(), ground) >= 3.0) return;
        const double inset = pen_.widthF() / 2 + 1;
        QPen halo(contrast(Qt::white, ground) >= contrast(Qt::black, ground) ? Qt::white : Qt::black, 2.0);
        halo.setJoinStyle(Qt::MiterJoin);
        painter_.setPen(halo);
        painter_.drawRect(QRectF(r.x, r.y, r.width, r.height).adjusted(inset, inset, -inset, -inset));
    }

private:
    QPainter& painter_;
    QWidget& widget_;
    QPen pen_{Qt::black, 1.0, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin};
};

// The file path of a local file URL as raw bytes: percent escapes that are
// not UTF-8 still name a real file on Linux, so they are decoded by hand.
std::optional<std::string> localPath(const QUrl& url) {
    if (!url.isValid() || !url.isLocalFile()) return std::nullopt;
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0) return std::nullopt;
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (bytes.isEmpty()) return std::nullopt;
    return bytes.toStdString();
}

bool hasPlainText(const QMimeData& mime) {
    const QStringList formats = mime.formats();
    return std::any_of(formats.begin(), formats.end(),
                       [](const QString& f) { return f == QLatin1String("text/plain") || f.startsWith(QLatin1String("text/plain;")); });
}

// The file lists a drag may carry besides text/uri-list, in the URI-list
// format or in GNOME's.
constexpr const char* kKdeUriList = "application/x-kde4-urilist";
constexpr const char* kGnomeCopiedFiles = "x-special/gnome-copied-files";
constexpr const char* kGnomeIconList = "x-special/gnome-icon-list";

// The URIs of every file list the drag carries, as written.
std::vector<std::string> fileListUris(const QMimeData& mime) {
    std::vector<std::string> uris;
    const auto add = [&uris](std::vector<std::string> more) {
        uris.insert(uris.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    };
    for (const char* format : {"text/uri-list", kKdeUriList})
        if (mime.hasFormat(QLatin1String(format))) add(vesk::urisOfUriList(mime.data(QLatin1String(format)).toStdString()));
    for (const char* format : {kGnomeCopiedFiles, kGnomeIconList})
        if (mime.hasFormat(QLatin1String(format))) add(vesk::urisOfGnomeList(mime.data(QLatin1String(format)).toStdString()));
    return uris;
}

// The drag's URLs: text/uri-list, or else the first other file list it has.
QList<QUrl> dragUrls(const QMimeData& mime) {
    if (mime.hasUrls()) return mime.urls();
    QList<QUrl> urls;
    for (const char* format : {kKdeUriList, kGnomeCopiedFiles, kGnomeIconList}) {
        if (!mime.hasFormat(QLatin1String(format))) continue;
        const std::string data = mime.data(QLatin1String(format)).toStdString();
        const auto uris = std::string_view(format) == kKdeUriList ? vesk::urisOfUriList(data) : vesk::urisOfGnomeList(data);
        for (const auto& uri : uris) urls.append(QUrl::fromEncoded(QByteArray::fromStdString(uri)));
        if (!urls.isEmpty()) break;
    }
    return urls;
}

}  // namespace

DropArea::DropArea(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent, false); }

void DropArea::attach(const platform::Services& services) {
    if (view_) return;
    view_.emplace(services, static_cast<vesk::ViewHost*>(this));
    view_->awakeFromNib();
}

QSize DropArea::sizeHint() const { return {360, 160}; }
QSize DropArea::minimumSizeHint() const { return {200, 80}; }

vesk::Pasteboard DropArea::pasteboardFromMimeData(const QMimeData* mime) {
    vesk::Pasteboard pb;
    if (!mime) return pb;
    const QList<QUrl> urls = dragUrls(*mime);
    if (!urls.isEmpty()) {
        std::vector<std::string> files;
        std::vector<std::string> items;
        files.reserve(static_cast<std::size_t>(urls.size()));
        for (const QUrl& url : urls) {
            items.push_back(url.toString().toStdString());
            if (auto path = localPath(url)) files.push_back(std::move(*path));
        }
        if (!files.empty()) {
            pb.types.emplace_back(vesk::NSFilenamesPboardType);
            pb.fileNames = std::move(files);
        }
        pb.itemsAsStrings = std::move(items);
    }
    // A file manager's file drag carries the files' URIs or paths as text
    // too; only text beyond the drag's own file list is a dragged text.
    if (hasPlainText(*mime)) {
        std::string text = mime->text().toStdString();
        const auto listed = fileListUris(*mime);
        if (listed.empty() || !vesk::textIsFileList(text, listed)) {
            pb.types.emplace_back(vesk::NSStringPboardType);
            pb.string = std::move(text);
            if (!pb.itemsAsStrings) pb.itemsAsStrings = std::vector<std::string>{*pb.string};
        }
    }
    return pb;
}

void DropArea::registerForDraggedTypes(const std::vector<std::string>& types) {
    registeredTypes_ = types;
    setAcceptDrops(true);
}

void DropArea::setNeedsDisplay(bool flag) {
    if (flag) update();
}

bool DropArea::offersRegisteredType(const vesk::Pasteboard& pb) const {
    return std::any_of(registeredTypes_.begin(), registeredTypes_.end(),
                       [&](const std::string& t) { return pb.containsType(t); });
}

void DropArea::takeDropsAcross(QWidget* window) {
    if (!window || across_) return;
    across_ = window;
    // Text fields take text drags of their own; in this window every drag is the inspector's.
    for (QWidget* child : window->findChildren<QWidget*>())
        if (child != this) child->setAcceptDrops(false);
    window->setAcceptDrops(true);
    window->installEventFilter(this);
}

bool DropArea::eventFilter(QObject* watched, QEvent* event) {
    if (watched != across_) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter: enter(static_cast<QDragEnterEvent*>(event)); return true;
    case QEvent::DragMove: dragMoveEvent(static_cast<QDragMoveEvent*>(event)); return true;
    case QEvent::DragLeave: leave(static_cast<QDragLeaveEvent*>(event)); return true;
    case QEvent::Drop: drop(static_cast<QDropEvent*>(event)); return true;
    default: return QWidget::eventFilter(watched, event);
    }
}

void DropArea::dragEnterEvent(QDragEnterEvent* event) { enter(event); }
void DropArea::dragLeaveEvent(QDragLeaveEvent* event) { leave(event); }
void DropArea::dropEvent(QDropEvent* event) { drop(event); }

void DropArea::enter(QDragEnterEvent* event) {
    if (leavePending_) {
        // Still inside the window: the answer given on entry stands.
        leavePending_ = false;
        event->setDropAction(event->proposedAction());
        event->setAccepted(lastEnterAccepted_);
        return;
    }
    vesk::DraggingInfo info{pasteboardFromMimeData(event->mimeData())};
    // Only drags of the registered types reach the view, as on the platform;
    // none are registered before the view is attached.
    lastEnterAccepted_ = view_ && offersRegisteredType(info.pasteboard) &&
                         view_->draggingEntered(info) != vesk::NSDragOperationNone;
    if (lastEnterAccepted_) {
        event->setDropAction(event->proposedAction());
        event->accept();
    } else {
        event->ignore();
    }
}

void DropArea::dragMoveEvent(QDragMoveEvent* event) {
    // The view has no movement handler: the answer given on entry stands.
    event->setDropAction(event->proposedAction());
    event->accept();
}

void DropArea::leave(QDragLeaveEvent* event) {
    event->accept();
    if (!across_) {
        if (view_) view_->draggingExited(vesk::DraggingInfo{});
        return;
    }
    leavePending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!leavePending_) return;
            leavePending_ = false;
            if (view_) view_->draggingExited(vesk::DraggingInfo{});
        },
        Qt::QueuedConnection);
}

void DropArea::drop(QDropEvent* event) {
    leavePending_ = false;
    vesk::DraggingInfo info{pasteboardFromMimeData(event->mimeData())};
    if (!view_ || !view_->prepareForDragOperation(info) || !view_->performDragOperation(info)) {
        event->ignore();
        return;
    }
    event->setDropAction(event->proposedAction());
    event->accept();
    // The intake runs once the drop has returned, so the drag's source is not
    // kept waiting while a report is built.
    QMetaObject::invokeMethod(
        this, [this, info = std::move(info)] { view_->draggingEnded(info); }, Qt::QueuedConnection);
}

void DropArea::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    PainterContext context(painter, *this);
    const QRect r = event->rect();
    const vesk::Rect dirty{double(r.x()), double(r.y()), double(r.width()), double(r.height())};
    if (view_)
        view_->drawRect(dirty, context);
    else
        context.drawBase(dirty);
}

}  // namespace vesk::desktop
