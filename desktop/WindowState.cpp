// SPDX-License-Identifier: GPL-3.0-or-later
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
#include "platform/FileSystem.h"
#include "platform/PropertyList.h"

namespace vesk::desktop {

namespace {

namespace pf = vesk::platform;

constexpr const char* kGeometry = "geometry";
constexpr const char* kView = "view";
constexpr const char* kRecent = "recent";
constexpr const char* kSplitters = "splitters";
constexpr const char* kDetails = "details";

QByteArray bytesOf(const pf::Dictionary& d, const std::string& key) {
    const auto it = d.find(key);
    const auto* data = it == d.end() ? nullptr : it->second.get<pf::Data>();
    return data ? QByteArray(reinterpret_cast<const char*>(data->data()), static_cast<qsizetype>(data->size()))
                : QByteArray();
}

pf::Value dataOf(const QByteArray& bytes) { return pf::Value(pf::Data(bytes.begin(), bytes.end())); }

std::string splitterKey(const QSplitter* splitter) { return splitter->objectName().toStdString(); }

}  // namespace

WindowState::WindowState(MainWindow& window, DetailsPane& details, const QString& settingsFile,
                         std::function<void(const std::string&)> open)
    : QObject(&window),
      window_(window),
      details_(details),
      file_(QFile::encodeName(settingsFile).toStdString()),
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
    // Only a small regular file: a FIFO would hold the start, a huge file its memory.
    pf::Dictionary saved;
    if (const auto bytes = pf::readFileBounded(file_, kMaxWindowStateBytes))
        if (auto root = pf::parsePropertyList(*bytes))
            if (auto* d = root->get<pf::Dictionary>()) saved = std::move(*d);
    recent_.clear();
    if (const auto it = saved.find(kRecent); it != saved.end())
        if (const auto* list = it->second.get<pf::Array>())
            for (const pf::Value& v : *list)
                if (const auto* path = v.get<std::string>(); path && recent_.size() < kMaxRecentFiles)
                    recent_.append(QString::fromStdString(*path));
    rebuildMenu();
    const QByteArray geometry = bytesOf(saved, kGeometry);
    if (!geometry.isEmpty()) window_.restoreGeometry(geometry);
    fitOnScreen(window_);
    if (const auto it = saved.find(kSplitters); it != saved.end())
        if (const auto* states = it->second.get<pf::Dictionary>())
            for (QSplitter* splitter : window_.findChildren<QSplitter*>()) {
                const QByteArray state = bytesOf(*states, splitterKey(splitter));
                if (!splitter->objectName().isEmpty() && !state.isEmpty()) splitter->restoreState(state);
            }
    if (const auto it = saved.find(kView); it != saved.end())
        if (const auto* view = it->second.get<std::string>(); view && *view == kDetails)
            details_.detailsAction()->trigger();
}

void WindowState::save() {
    pf::Dictionary saved;
    saved[kGeometry] = dataOf(window_.saveGeometry());
    pf::Dictionary states;
    for (QSplitter* splitter : window_.findChildren<QSplitter*>())
        if (!splitter->objectName().isEmpty()) states[splitterKey(splitter)] = dataOf(splitter->saveState());
    saved[kSplitters] = pf::Value(std::move(states));
    saved[kView] = pf::Value(details_.detailsAction()->isChecked() ? kDetails : "fields");
    pf::Array recent;
    for (const QString& file : std::as_const(recent_)) recent.emplace_back(file.toStdString());
    saved[kRecent] = pf::Value(std::move(recent));
    // As the store is written: a new file renamed over the old, so a reader
    // finds the old state or the new, and nobody waits on anybody.
    const std::string folder = pf::deletingLastPathComponent(file_);
    if (!folder.empty()) QDir().mkpath(QFile::decodeName(QByteArray::fromStdString(folder)));
    (void)pf::atomicWriteFile(file_, pf::toXmlPropertyList(pf::Value(std::move(saved))), {.durable = false});
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
    return config + QStringLiteral("/vesk/window.plist");
}

}  // namespace vesk::desktop
