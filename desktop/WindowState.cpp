#include "desktop/WindowState.h"

#include <QAction>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <algorithm>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStackedWidget>

#include "desktop/DetailsPane.h"
#include "desktop/MainWindow.h"

namespace vesk::desktop {

namespace {

const QString kGeometry = QStringLiteral("window/geometry");
const QString kView = QStringLiteral("window/view");
const QString kRecent = QStringLiteral("files/recent");
const QString kDetails = QStringLiteral("details");

QString splitterKey(const QSplitter* splitter) { return QStringLiteral("splitters/") + splitter->objectName(); }

}  // namespace

WindowState::WindowState(MainWindow& window, DetailsPane& details, const QString& settingsFile,
                         std::function<void(const std::string&)> open)
    : QObject(&window),
      window_(window),
      details_(details),
      settings_(settingsFile, QSettings::IniFormat),
      open_(std::move(open)) {
    menu_ = new QMenu(tr("Open &Recent"), &window_);
    menu_->setObjectName(QStringLiteral("recentMenu"));
    QAction* openAction = window_.openAction();
    for (QAction* top : window_.menuBar()->actions()) {
        QMenu* menu = top->menu();
        if (!menu || !menu->actions().contains(openAction)) continue;
        const auto actions = menu->actions();
        const auto at = actions.indexOf(openAction);
        menu->insertMenu(at + 1 < actions.size() ? actions.at(at + 1) : nullptr, menu_);
        break;
    }
    menu_->setToolTipsVisible(true);
    connect(menu_, &QMenu::aboutToShow, this, &WindowState::rebuildMenu);
    window_.installEventFilter(this);
}

void WindowState::restore() {
    recent_ = settings_.value(kRecent).toStringList().mid(0, kMaxRecentFiles);
    rebuildMenu();
    const QByteArray geometry = settings_.value(kGeometry).toByteArray();
    if (!geometry.isEmpty()) window_.restoreGeometry(geometry);
    fitOnScreen(window_);
    for (QSplitter* splitter : window_.findChildren<QSplitter*>()) {
        const QByteArray state = settings_.value(splitterKey(splitter)).toByteArray();
        if (!splitter->objectName().isEmpty() && !state.isEmpty()) splitter->restoreState(state);
    }
    if (settings_.value(kView).toString() == kDetails) details_.detailsAction()->trigger();
}

void WindowState::save() {
    settings_.setValue(kGeometry, window_.saveGeometry());
    for (QSplitter* splitter : window_.findChildren<QSplitter*>())
        if (!splitter->objectName().isEmpty()) settings_.setValue(splitterKey(splitter), splitter->saveState());
    settings_.setValue(kView, details_.detailsAction()->isChecked() ? kDetails : QStringLiteral("fields"));
    settings_.setValue(kRecent, recent_);
    settings_.sync();
}

void WindowState::noteShown(const std::string& path) {
    if (path.empty()) return;
    const QString file = QFile::decodeName(QByteArray::fromStdString(path));
    recent_.removeAll(file);
    recent_.prepend(file);
    while (recent_.size() > kMaxRecentFiles) recent_.removeLast();
    rebuildMenu();
}

void WindowState::rebuildMenu() {
    // A file deleted or moved since it was shown is no longer offered.
    recent_.removeIf([](const QString& file) { return !QFileInfo::exists(file); });
    menu_->clear();
    const QFontMetrics metrics = menu_->fontMetrics();
    for (const QString& file : std::as_const(recent_)) {
        // Cut in the middle, so the name stays; the tooltip has it whole.
        const QString whole = QDir::toNativeSeparators(file);
        QAction* action = menu_->addAction(metrics.elidedText(whole, Qt::ElideMiddle, metrics.averageCharWidth() * kMenuChars));
        action->setToolTip(whole);
        const std::string path = QFile::encodeName(file).toStdString();
        connect(action, &QAction::triggered, this, [this, path] { open_(path); });
    }
    menu_->setEnabled(!recent_.isEmpty());
}

bool WindowState::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window_ && event->type() == QEvent::Close) save();
    return QObject::eventFilter(watched, event);
}

void fitOnScreen(QWidget& window) {
    QScreen* screen = QGuiApplication::screenAt(window.geometry().center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    // At a large scale factor the screen has fewer logical pixels than the
    // layout's own size: the window shrinks to it, its minimum too.
    // The window manager's title bar comes above the window's own top.
    const QRect room = screen->availableGeometry().adjusted(0, window.style()->pixelMetric(QStyle::PM_TitleBarHeight), 0, 0);
    window.setMinimumSize(window.minimumSize().boundedTo(room.size()));
    QRect placed = window.geometry();
    placed.setSize(placed.size().boundedTo(room.size()));
    // A window saved on a screen that is gone, or partly off it, comes back whole on this one.
    placed.moveLeft(std::clamp(placed.left(), room.left(), room.right() - placed.width() + 1));
    placed.moveTop(std::clamp(placed.top(), room.top(), room.bottom() - placed.height() + 1));
    if (placed != window.geometry()) window.setGeometry(placed);
}

QString windowStateFilePath() {
    const QByteArray given = qgetenv("VESK_WINDOW_STATE_FILE");
    if (!given.isEmpty()) return QFile::decodeName(given);
    QString config = QFile::decodeName(qgetenv("XDG_CONFIG_HOME"));
    if (config.isEmpty() || !QDir::isAbsolutePath(config)) config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/vesk/window.ini");
}

}  // namespace vesk::desktop
