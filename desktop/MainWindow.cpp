// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/MainWindow.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSizePolicy>
#include <QStatusBar>
#include <QStyle>
#include <algorithm>

#include "desktop/FocusRing.h"
#include "desktop/InfoBinder.h"
#include "inspector/InfoKeys.h"
#include "ui_MainWindow.h"

namespace vesk::desktop {

namespace {

// Whether narrow and wide letters take the same room: the font files' own
// fixed-pitch flag is not always set (Noto Sans Mono lacks it).
bool isMonospaced(const QFont& font) {
    const QFontMetrics metrics(font);
    return metrics.horizontalAdvance(QStringLiteral("iiiiiiiiii")) ==
           metrics.horizontalAdvance(QStringLiteral("MMMMMMMMMM"));
}

// The platform's fixed font, or one found by style when the platform names a
// family it cannot resolve.
QFont fixedPitchFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (isMonospaced(font)) return font;
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    if (isMonospaced(font)) return font;
    for (const QString& family : QFontDatabase::families()) {
        font.setFamily(family);
        if (isMonospaced(font)) break;
    }
    return font;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui_(std::make_unique<Ui::MainWindow>()) {
    ui_->setupUi(this);
    setWindowIcon(QIcon::fromTheme(QStringLiteral("vesk")));

    // Dictionary texts line up only in a fixed-pitch font.
    const QFont fixed = fixedPitchFont();
    for (const auto& info : kInfoFields) {
        if (QPlainTextEdit* field = infoField(QString::fromLatin1(info.key))) {
            field->setFont(fixed);
            field->setToolTip(QString::fromUtf8(info.meaning));
            field->setAccessibleName(QString::fromUtf8(info.label));
        }
    }
    for (QLabel* label : findChildren<QLabel*>()) {
        if (!label->buddy() || !label->buddy()->property(InfoBinder::kKeyProperty).isValid()) continue;
        QFont bold = label->font();
        bold.setBold(true);
        label->setFont(bold);
    }

    // Keyboard scrolling starts in the first field rather than in the path line.
    ui_->propertiesField->setFocus();

    // A label rather than the bar's own message: it stays until the next
    // file, and a long text neither widens the window nor hides its end
    // from the tooltip.
    statusLabel_ = new QLabel(this);
    statusLabel_->setObjectName(QStringLiteral("statusLabel"));
    statusLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusLabel_->setTextFormat(Qt::PlainText);
    statusLabel_->setAccessibleName(QStringLiteral("Status"));
    statusLabel_->setContentsMargins(4, 0, 4, 0);
    statusLabel_->installEventFilter(this);
    statusIcon_ = new QLabel(this);
    statusIcon_->setObjectName(QStringLiteral("statusIcon"));
    const int side = statusLabel_->fontMetrics().height();
    statusIcon_->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(side, side));
    statusIcon_->setContentsMargins(4, 0, 0, 0);
    statusIcon_->hide();
    statusBar()->addWidget(statusIcon_);
    statusBar()->addWidget(statusLabel_, 1);
    // Some styles frame each item of the bar, which an empty line shows as stray marks.
    statusBar()->setStyleSheet(QStringLiteral("QStatusBar::item { border: none; }"));

    focusRing_ = new FocusRing(this);

    // Six fields in two rows of three, sharing the space evenly at first.
    for (QSplitter* splitter : {ui_->rowsSplitter, ui_->topRow, ui_->bottomRow})
        for (int i = 0; i < splitter->count(); ++i) splitter->setStretchFactor(i, 1);
}

MainWindow::~MainWindow() = default;

DropArea* MainWindow::dropArea() const { return ui_->dropArea; }
DoubleClickButton* MainWindow::doubleClickButton() const { return ui_->doubleClickButton; }
QLineEdit* MainWindow::currentFileField() const { return ui_->currentFileField; }
QWidget* MainWindow::fieldsArea() const { return ui_->rowsSplitter; }
QAction* MainWindow::openAction() const { return ui_->actionOpen; }
QAction* MainWindow::inspectTestFileAction() const { return ui_->actionInspectTestFile; }
QAction* MainWindow::aboutAction() const { return ui_->actionAbout; }
QAction* MainWindow::showInFolderAction() const { return ui_->actionShowInFolder; }
QAction* MainWindow::nextFileAction() const { return ui_->actionNextFile; }
QAction* MainWindow::previousFileAction() const { return ui_->actionPreviousFile; }
QAction* MainWindow::quitAction() const { return ui_->actionQuit; }

void MainWindow::showStatus(const QString& text, bool failed) {
    statusText_ = text;
    statusLabel_->setToolTip(text);
    statusIcon_->setVisible(failed);
    fitStatus();
}

void MainWindow::fitStatus() {
    const QFontMetrics metrics = statusLabel_->fontMetrics();
    const int room = statusLabel_->contentsRect().width();
    const auto colon = statusText_.indexOf(QLatin1String(": "));
    if (colon <= 0 || room <= 0 || metrics.horizontalAdvance(statusText_) <= room) {
        statusLabel_->setText(statusText_);
        return;
    }
    // The name gives way first: what became of the file is the message.
    const QString reason = statusText_.mid(colon);
    const int nameRoom = std::max(metrics.horizontalAdvance(QStringLiteral("a\u2026z")), room - metrics.horizontalAdvance(reason));
    statusLabel_->setText(metrics.elidedText(statusText_.left(colon), Qt::ElideMiddle, nameRoom) + reason);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // A line cleared meanwhile stays clear.
    if (watched == statusLabel_ && event->type() == QEvent::Resize && !statusLabel_->text().isEmpty()) fitStatus();
    return QMainWindow::eventFilter(watched, event);
}

QPlainTextEdit* MainWindow::infoField(const QString& key) const {
    for (QPlainTextEdit* field : findChildren<QPlainTextEdit*>())
        if (field->property(InfoBinder::kKeyProperty).toString() == key) return field;
    return nullptr;
}

}  // namespace vesk::desktop
