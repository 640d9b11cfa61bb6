#include "desktop/ApplicationShell.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

#include "desktop/DetailsPane.h"
#include "desktop/DoubleClickButton.h"
#include "desktop/FileDialogOpenPanel.h"
#include "desktop/InfoBinder.h"
#include "desktop/WindowState.h"
#include "desktop/MainWindow.h"
#include "desktop/DropArea.h"
#include "inspector/InfoKeys.h"
#include "platform/Log.h"

namespace vesk::desktop {

namespace {

constexpr int kIdleSyncMillis = 3000;

std::string toPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

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
            if (windowState_ && key == prefCurFilePath)
                windowState_->noteShown(services_.store->get(prefCurFilePath).value_or(""));
        });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        delegate_.applicationWillTerminate();
        idleSync_.stop();
        services_.store->synchronize();
    });
}

ApplicationShell::~ApplicationShell() {
    qApp->removeEventFilter(this);
    storeChanges_.reset();
    // Reports still queued hold the inspector weakly; they find it gone.
    binder_.reset();
    viewController_.reset();
    details_ = nullptr;
    windowState_ = nullptr;
    window_.reset();
}

void ApplicationShell::launch(const QStringList& files) {
    if (launched_) return;
    window_ = std::make_unique<MainWindow>();
    binder_ = std::make_unique<InfoBinder>(services_.store, window_.get());
    // A file changed on disk, or picked from Open Recent, goes through the
    // same file-add event as a drop.
    const auto show = [this](const std::string& path) {
        services_.center.post(platform::kAddFromFileNotification, platform::Value(platform::Array{platform::Value(path)}));
    };
    details_ = new DetailsPane(*window_, services_, show);
    windowState_ = new WindowState(*window_, *details_, windowStateFilePath(), show);
    windowState_->restore();
    window_->dropArea()->attach(services_);
    viewController_ = std::make_shared<ViewController>(services_);
    viewController_->setWindowHost(this);
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
    pendingFiles_.append(files);
    if (!launched_ || flushScheduled_ || pendingFiles_.isEmpty()) return;
    flushScheduled_ = true;
    QTimer::singleShot(0, this, &ApplicationShell::flushOpenFiles);
}

void ApplicationShell::flushOpenFiles() {
    flushScheduled_ = false;
    std::vector<std::string> list;
    for (const QString& file : std::as_const(pendingFiles_)) list.push_back(toPath(file));
    pendingFiles_.clear();
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
    return std::make_shared<FileDialogOpenPanel>(window_.get());
}

void ApplicationShell::showAbout() {
    QMessageBox::about(window_.get(), tr("About Vesk"), QString::fromStdString(getAppVersionString()));
}

QStringList absoluteFilePaths(const QStringList& arguments) {
    QStringList out;
    for (const QString& arg : arguments) {
        if (arg.isEmpty()) continue;
        QString path = arg;
        if (arg.startsWith(QLatin1String("file://"))) {
            const QUrl url(arg);
            if (!url.isLocalFile()) continue;
            path = url.toLocalFile();
        }
        out.append(QFileInfo(path).absoluteFilePath());
    }
    return out;
}

}  // namespace vesk::desktop
