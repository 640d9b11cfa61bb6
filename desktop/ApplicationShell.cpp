// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/ApplicationShell.h"

#include <QAction>
#include <algorithm>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include "desktop/DetailsPane.h"
#include "desktop/DoubleClickButton.h"
#include "desktop/FileDialogOpenPanel.h"
#include "desktop/InfoBinder.h"
#include "desktop/WindowState.h"
#include "desktop/MainWindow.h"
#include "desktop/ShowInFolder.h"
#include "desktop/DropArea.h"
#include "inspector/InfoKeys.h"
#include "inspector/ReportOutcome.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "views/DragText.h"

namespace vesk::desktop {

namespace {

constexpr int kIdleSyncMillis = 3000;

std::string toPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The path without "." steps, repeated slashes, and ".." steps after a name,
// as QDir::cleanPath makes it, byte for byte.
std::string cleanPath(const std::string& path) {
    const bool absolute = path.starts_with('/');
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        const std::size_t slash = std::min(path.find('/', pos), path.size());
        const std::string part = path.substr(pos, slash - pos);
        pos = slash + 1;
        if (part.empty() || part == ".") continue;
        if (part == ".." && !parts.empty() && parts.back() != "..") {
            parts.pop_back();
            continue;
        }
        if (part == ".." && absolute) continue;  // above the root is the root
        parts.push_back(part);
    }
    std::string out = absolute ? "/" : "";
    for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? "/" : "") + parts[i];
    return out.empty() ? "." : out;
}

}  // namespace

ApplicationShell::ApplicationShell(const platform::Services& services, QObject* parent)
    : QObject(parent), services_(services), delegate_(services_) {
    // The desktop may hand over documents before the window exists.
    qApp->installEventFilter(this);
    QApplication::setQuitOnLastWindowClosed(delegate_.applicationShouldTerminateAfterLastWindowClosed());
    idleSync_.setSingleShot(true);
    idleSync_.setInterval(kIdleSyncMillis);
    connect(&idleSync_, &QTimer::timeout, this, [this] { services_.store->synchronize(); });
    std::set<std::string> keys(kReportKeys.begin(), kReportKeys.end());
    keys.insert(prefWindowTitle);
    storeChanges_ = std::make_unique<StoreRelay>(
        services_.store, std::move(keys),
        [this](StoreRelay::Task task) { QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection); },
        [this](const std::string& key) {
            idleSync_.start();
            if (details_) details_->storeChanged(key);
            if (key == prefCurFilePath) {
                const std::string shown = services_.store->get(prefCurFilePath).value_or("");
                if (windowState_) windowState_->noteShown(shown);
                if (window_) window_->showInFolderAction()->setEnabled(!shown.empty());
            }
        });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        delegate_.applicationWillTerminate();
        idleSync_.stop();
        services_.store->synchronize();
    });
}

ApplicationShell::~ApplicationShell() {
    qApp->removeEventFilter(this);
    services_.center.removeObserver(this);
    // A report on another thread may be telling its outcome now; once this
    // returns none reaches the shell.
    if (viewController_) viewController_->setOutcomeHandler({});
    storeChanges_.reset();
    // Reports still queued hold the inspector weakly; they find it gone.
    binder_.reset();
    viewController_.reset();
    details_ = nullptr;
    windowState_ = nullptr;
    window_.reset();
}

void ApplicationShell::launch(const QStringList& files) {
    std::vector<std::string> paths;
    for (const QString& file : files) paths.push_back(toPath(file));
    launch(paths);
}

void ApplicationShell::launch(const std::vector<std::string>& files) {
    if (launched_) return;
    window_ = std::make_unique<MainWindow>();
    binder_ = std::make_unique<InfoBinder>(services_.store, window_.get());
    // A file changed on disk, or picked from Open Recent, goes through the
    // same file-add event as a drop.
    const auto show = [this](const std::string& path) {
        services_.center.post(platform::kAddFromFileNotification, platform::Value(platform::Array{platform::Value(path)}));
    };
    // A file reported again after a change on disk stays where it is in its set.
    details_ = new DetailsPane(*window_, services_, [this](const std::string& path) { showInSet(path); });
    windowState_ = new WindowState(*window_, *details_, windowStateFilePath(), show);
    windowState_->restore();
    window_->dropArea()->attach(services_);
    window_->dropArea()->takeDropsAcross(window_.get());
    viewController_ = std::make_shared<ViewController>(services_);
    viewController_->setWindowHost(this);
    viewController_->setOutcomeHandler([this](const ReportOutcome& outcome) { showOutcome(outcome); });
    services_.center.addObserver(this, platform::kAddFromFileNotification, [this](const platform::Notification& n) {
        std::vector<std::string> paths;
        if (const auto* list = n.object ? n.object->get<platform::Array>() : nullptr) {
            for (const auto& item : *list) {
                if (const auto* url = item.get<platform::Url>()) paths.push_back(url->path);
                else if (const auto* text = item.get<std::string>()) paths.push_back(*text);
            }
        }
        if (QThread::currentThread() == thread())
            noteFileSet(std::move(paths));
        else
            QMetaObject::invokeMethod(this, [this, paths] { noteFileSet(paths); }, Qt::QueuedConnection);
    });
    window_->dropArea()->dragDropView().setRefusalHandler(
        [this](const std::string& path, const std::optional<std::string>& type) {
            refusedNow_.push_back(refusalOutcome(path, type, services_.types));
        });
    // Without a file manager on the session bus, the button's opener shows the folder.
    showInFolder_ = new ShowInFolder(
        [this](const std::string& path) {
            if (viewController_) viewController_->ibRevealInFinder(path);
        },
        this);
    connect(window_->showInFolderAction(), &QAction::triggered, this,
            [this] { showInFolder_->show(services_.store->get(prefCurFilePath).value_or("")); });
    connect(window_->nextFileAction(), &QAction::triggered, this, [this] { step(1); });
    connect(window_->previousFileAction(), &QAction::triggered, this, [this] { step(-1); });
    DoubleClickButton* button = window_->doubleClickButton();
    button->attach(services_.log);
    button->setWindowDelegateDescription([this] { return delegate_.description(); });
    viewController_->setIbDoubleClickButton(&button->button());
    viewController_->viewDidLoad();

    // The inspector is the first in the responder chain to answer
    // openDocument:, so the Open command is its.
    connect(window_->openAction(), &QAction::triggered, this, [this] { viewController_->openDocument(); });
    connect(window_->inspectTestFileAction(), &QAction::triggered, this,
            [this] { viewController_->ibGetExifInfo(); });
    connect(window_->aboutAction(), &QAction::triggered, this, &ApplicationShell::showAbout);
    connect(window_->quitAction(), &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    window_->show();
    delegate_.applicationDidFinishLaunching();
    launched_ = true;
    openFiles(files);
}

void ApplicationShell::openFiles(const QStringList& files) {
    std::vector<std::string> paths;
    for (const QString& file : files) paths.push_back(toPath(file));
    openFiles(paths);
}

void ApplicationShell::openFiles(const std::vector<std::string>& files) {
    pendingFiles_.insert(pendingFiles_.end(), files.begin(), files.end());
    if (!launched_ || flushScheduled_ || pendingFiles_.empty()) return;
    flushScheduled_ = true;
    QTimer::singleShot(0, this, &ApplicationShell::flushOpenFiles);
}

void ApplicationShell::flushOpenFiles() {
    flushScheduled_ = false;
    std::vector<std::string> list;
    list.swap(pendingFiles_);
    if (!list.empty()) delegate_.application(list);
}

bool ApplicationShell::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::FileOpen) {
        const auto* open = static_cast<QFileOpenEvent*>(event);
        const QString file = open->file().isEmpty() ? open->url().toLocalFile() : open->file();
        if (!file.isEmpty()) openFiles({file});
        return true;
    }
    return QObject::eventFilter(watched, event);
}

std::string ApplicationShell::firstResponderDescription() const {
    const QWidget* focus = QApplication::focusWidget();
    if (!focus) return "(null)";
    return platform::objectDescription(focus->metaObject()->className(), focus);
}

std::shared_ptr<OpenPanel> ApplicationShell::makeOpenPanel() {
    if (!window_) return nullptr;
    auto panel = std::make_shared<FileDialogOpenPanel>(window_.get(), services_.store);
    // The panel runs on this thread; it outlives neither the window nor the shell.
    panel->setRefusalHandler([this](const std::string& path) {
        showOutcome(refusalOutcome(path, services_.types.typeOfFile(path), services_.types));
    });
    return panel;
}

void ApplicationShell::showOutcome(const ReportOutcome& outcome) {
    if (QThread::currentThread() == thread()) {
        displayOutcome(outcome);
        return;
    }
    // Qt drops the call if the shell has gone by the time it would run.
    QMetaObject::invokeMethod(this, [this, outcome] { displayOutcome(outcome); }, Qt::QueuedConnection);
}

void ApplicationShell::displayOutcome(const ReportOutcome& outcome) {
    if (!window_) return;
    std::string text = statusText(outcome);
    if (fileSet_.size() > 1 && fileSet_[fileAt_] == outcome.path)
        text += " \u2014 " + std::to_string(fileAt_ + 1) + " of " + std::to_string(fileSet_.size());
    if (!refusedNote_.empty() && std::find(fileSet_.begin(), fileSet_.end(), outcome.path) != fileSet_.end())
        text += " \u00b7 " + refusedNote_;
    window_->showStatus(QString::fromStdString(text), outcome.failed);
}

void ApplicationShell::noteFileSet(std::vector<std::string> paths) {
    std::vector<ReportOutcome> refused;
    refused.swap(refusedNow_);
    if (stepping_) return;
    if (paths.empty()) {
        // Nothing taken: the status line says why, and what is on show stays.
        if (refused.empty()) return;
        ReportOutcome first = refused.front();
        if (refused.size() > 1) first.text += " (and " + std::to_string(refused.size() - 1) + " more not taken)";
        displayOutcome(first);
        return;
    }
    fileSet_ = std::move(paths);
    fileAt_ = 0;
    refusedNote_.clear();
    if (!refused.empty())
        refusedNote_ = std::to_string(refused.size()) + " not taken: " + statusText(refused.front());
    window_->nextFileAction()->setEnabled(fileSet_.size() > 1);
    window_->previousFileAction()->setEnabled(fileSet_.size() > 1);
}

void ApplicationShell::step(int by) {
    if (fileSet_.size() < 2) return;
    const auto n = static_cast<long>(fileSet_.size());
    fileAt_ = static_cast<std::size_t>(((static_cast<long>(fileAt_) + by) % n + n) % n);
    showInSet(fileSet_[fileAt_]);
}

void ApplicationShell::showInSet(const std::string& path) {
    stepping_ = true;
    services_.center.post(platform::kAddFromFileNotification, platform::Value(platform::Array{platform::Value(path)}));
    stepping_ = false;
}

void ApplicationShell::showAbout() {
    QMessageBox::about(window_.get(), tr("About Vesk"), QString::fromStdString(getAppVersionString()));
}

std::vector<std::string> absoluteFilePaths(const std::vector<std::string>& arguments) {
    std::vector<std::string> out;
    for (const std::string& arg : arguments) {
        if (arg.empty()) continue;
        std::string path = arg;
        if (arg.starts_with("file://")) {
            // Escapes that are not UTF-8 still name a file: decoded to bytes.
            path = localPathOfFileUri(arg);
            if (path.empty()) continue;
        }
        out.push_back(cleanPath(platform::absolutePath(path)));
    }
    return out;
}

QStringList absoluteFilePaths(const QStringList& arguments) {
    std::vector<std::string> raw;
    for (const QString& arg : arguments) raw.push_back(toPath(arg));
    QStringList out;
    for (const auto& path : absoluteFilePaths(raw)) out.append(QFile::decodeName(QByteArray::fromStdString(path)));
    return out;
}

}  // namespace vesk::desktop
