// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/DetailsPane.h"

#include <QAction>
#include <QActionGroup>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSaveFile>
#include <QStackedWidget>
#include <QStatusBar>

#include "desktop/DetailsView.h"
#include "desktop/MainWindow.h"
#include "inspector/InfoKeys.h"
#include "inspector/ReportText.h"
#include "inspector/Summary.h"
#include "platform/FileSystem.h"

namespace vesk::desktop {

namespace {

constexpr int kSettleMillis = 200;

QString fromPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

// The menu of the menu bar that holds `action`, or nullptr.
QMenu* menuHolding(QMenuBar* bar, QAction* action) {
    for (QAction* top : bar->actions())
        if (QMenu* menu = top->menu(); menu && menu->actions().contains(action)) return menu;
    return nullptr;
}

}  // namespace

DetailsPane::DetailsPane(MainWindow& window, const platform::Services& services,
                         std::function<void(const std::string&)> reinspect)
    : QObject(&window), window_(window), services_(services), reinspect_(std::move(reinspect)) {
    // The fields stay where they are and first; the details come beside them,
    // under the same drop area and file row, so both views show the file on
    // show and its actions.
    QWidget* fieldsPage = window_.fieldsArea();
    QWidget* central = fieldsPage->parentWidget();
    stack_ = new QStackedWidget(central);
    stack_->setObjectName(QStringLiteral("viewStack"));
    stack_->setSizePolicy(fieldsPage->sizePolicy());
    delete central->layout()->replaceWidget(fieldsPage, stack_);
    stack_->addWidget(fieldsPage);
    view_ = new DetailsView(stack_);
    stack_->addWidget(view_);

    fields_ = new QAction(tr("&Fields"), this);
    fields_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    details_ = new QAction(tr("&Details"), this);
    details_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_2));
    auto* group = new QActionGroup(this);
    for (QAction* a : {fields_, details_}) {
        a->setCheckable(true);
        group->addAction(a);
    }
    fields_->setChecked(true);
    connect(fields_, &QAction::triggered, this, [this] { stack_->setCurrentIndex(0); });
    connect(details_, &QAction::triggered, this, [this] {
        stack_->setCurrentIndex(1);
        scheduleRefresh();
    });
    find_ = new QAction(tr("&Find…"), this);
    find_->setShortcut(QKeySequence::Find);
    connect(find_, &QAction::triggered, this, [this] {
        details_->trigger();
        view_->filterField()->setFocus();
        view_->filterField()->selectAll();
    });

    QMenuBar* bar = window_.menuBar();
    auto* viewMenu = new QMenu(tr("&View"), bar);
    viewMenu->addAction(fields_);
    viewMenu->addAction(details_);
    viewMenu->addSeparator();
    viewMenu->addAction(find_);
    QMenu* helpMenu = menuHolding(bar, window_.aboutAction());
    bar->insertMenu(helpMenu ? helpMenu->menuAction() : nullptr, viewMenu);

    cleanLocation_ = new QAction(tr("Save Copy Without &Location…"), this);
    cleanAll_ = new QAction(tr("Save Copy Without &Metadata…"), this);
    exportJson_ = new QAction(tr("&JSON…"), this);
    exportText_ = new QAction(tr("&Text…"), this);
    auto* exportMenu = new QMenu(tr("&Export"), bar);
    exportMenu->addAction(exportJson_);
    exportMenu->addAction(exportText_);
    if (QMenu* fileMenu = menuHolding(bar, window_.openAction())) {
        const bool quitHere = fileMenu->actions().contains(window_.quitAction());
        QAction* before = quitHere ? window_.quitAction() : nullptr;
        fileMenu->insertAction(before, cleanLocation_);
        fileMenu->insertAction(before, cleanAll_);
        fileMenu->insertMenu(before, exportMenu);
        if (quitHere) fileMenu->insertSeparator(window_.quitAction());
    } else {
        bar->addMenu(exportMenu);
        bar->addAction(cleanLocation_);
        bar->addAction(cleanAll_);
    }
    const auto ask = [this](const QString& title, const QString& suffix, const QString& filter) {
        const QFileInfo shown(fromPath(currentPath()));
        return QFileDialog::getSaveFileName(&window_, title, shown.absoluteDir().filePath(shown.fileName() + suffix),
                                            filter);
    };
    connect(exportJson_, &QAction::triggered, this, [this, ask] {
        const QString target = ask(tr("Export JSON"), QStringLiteral(".json"), tr("JSON (*.json)"));
        if (!target.isEmpty()) exportJson(target);
    });
    connect(exportText_, &QAction::triggered, this, [this, ask] {
        const QString target = ask(tr("Export Text"), QStringLiteral(".txt"), tr("Text (*.txt)"));
        if (!target.isEmpty()) exportText(target);
    });
    for (QAction* a : {exportJson_, exportText_, cleanLocation_, cleanAll_}) a->setEnabled(false);
    const auto askClean = [this](CleanLevel level) {
        const std::string path = currentPath();
        const QString ext = QFileInfo(fromPath(path)).suffix();
        const QString target = QFileDialog::getSaveFileName(
            &window_, level == CleanLevel::Location ? tr("Save Copy Without Location") : tr("Save Copy Without Metadata"),
            fromPath(cleanCopyName(path)), ext.isEmpty() ? QString() : tr("Same format (*.%1)").arg(ext));
        if (!target.isEmpty()) saveCleanCopy(level, target);
    };
    connect(cleanLocation_, &QAction::triggered, this, [askClean] { askClean(CleanLevel::Location); });
    connect(cleanAll_, &QAction::triggered, this, [askClean] { askClean(CleanLevel::All); });

    refreshTimer_.setSingleShot(true);
    refreshTimer_.setInterval(0);
    connect(&refreshTimer_, &QTimer::timeout, this, &DetailsPane::refresh);
    settleTimer_.setSingleShot(true);
    settleTimer_.setInterval(kSettleMillis);
    connect(&settleTimer_, &QTimer::timeout, this, &DetailsPane::checkFile);
    // The status line is there from the start (made here when the window has
    // none), so its first message does not shift the fields.
    window_.statusBar();
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &DetailsPane::fileEvent);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &DetailsPane::fileEvent);
}

DetailsPane::~DetailsPane() = default;

void DetailsPane::storeChanged(const std::string& key) {
    if (key == prefCurFilePath || key == prefTextViewString1) scheduleRefresh();
}

void DetailsPane::scheduleRefresh() { refreshTimer_.start(); }

std::string DetailsPane::currentPath() const { return services_.store->get(prefCurFilePath).value_or(""); }

void DetailsPane::refresh() {
    const std::string path = currentPath();
    watch(path);
    for (QAction* a : {exportJson_, exportText_}) a->setEnabled(!path.empty());
    const bool cleanable = !path.empty() && !whyNotCleanable(path);
    cleanLocation_->setEnabled(cleanable);
    cleanAll_->setEnabled(cleanable);
    // Read only while the details are on show; showing them reads the file again.
    if (stack_->currentIndex() != 1) return;
    const ReportKind kind = reportKindFor(path, services_.types);
    view_->display(detailsFor(path, kind, services_.store->get(prefTextViewString1).value_or(""), quiet_));
    // After the summary and the tree, which it never holds up.
    view_->showPreview(kind == ReportKind::Image ? path : std::string());
}

void DetailsPane::watch(const std::string& path) {
    if (path == watched_) return;
    if (!watcher_.files().isEmpty()) watcher_.removePaths(watcher_.files());
    if (!watcher_.directories().isEmpty()) watcher_.removePaths(watcher_.directories());
    watched_ = path;
    // A note about the file before no longer applies: the new file's outcome shows.
    window_.statusBar()->clearMessage();
    if (!noteFor_.empty() && path == noteFor_) say(note_);
    noteFor_.clear();
    if (path.empty()) return;
    const QFileInfo info(fromPath(path));
    present_ = info.exists();
    modified_ = info.lastModified();
    size_ = info.size();
    // The folder too: a file replaced by renaming (as exiftool and editors
    // save) or put back after a move is seen there.
    watcher_.addPath(info.absoluteFilePath());
    watcher_.addPath(info.absolutePath());
}

void DetailsPane::fileEvent() { settleTimer_.start(); }

void DetailsPane::checkFile() {
    if (watched_.empty()) return;
    const QString path = fromPath(watched_);
    const QFileInfo info(path);
    if (!info.exists()) {
        if (present_) say(tr("%1 was deleted or moved; the report shows what it held").arg(path));
        present_ = false;
        return;
    }
    // A replaced file is a new one to the watcher: it is watched again.
    if (!watcher_.files().contains(info.absoluteFilePath())) watcher_.addPath(info.absoluteFilePath());
    if (present_ && info.lastModified() == modified_ && info.size() == size_) return;
    const bool returned = !present_;
    present_ = true;
    modified_ = info.lastModified();
    size_ = info.size();
    reinspect_(watched_);
    scheduleRefresh();
    say((returned ? tr("%1 is back; report run again at %2") : tr("%1 changed on disk; report run again at %2"))
            .arg(info.fileName(), QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))));
}

// A note over the status line's outcome for a while; the outcome of the
// report (re)run meanwhile shows again after it.
void DetailsPane::say(const QString& text) { window_.statusBar()->showMessage(text, kNoteMs); }

QString DetailsPane::statusText() const { return window_.statusBar()->currentMessage(); }

bool DetailsPane::writeFile(const QString& target, const std::string& bytes, const QString& what) {
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()) ||
        !file.commit()) {
        say(tr("Could not write %1: %2").arg(target, file.errorString()));
        return false;
    }
    say(tr("%1 written to %2").arg(what, target));
    return true;
}

bool DetailsPane::exportJson(const QString& target) {
    const std::string path = currentPath();
    if (path.empty()) {
        say(tr("Nothing on show to export"));
        return false;
    }
    return writeFile(target, propertiesJson(path, quiet_), tr("JSON"));
}

bool DetailsPane::exportText(const QString& target) {
    const std::string path = currentPath();
    if (path.empty()) {
        say(tr("Nothing on show to export"));
        return false;
    }
    return writeFile(target, reportText(path, services_.store->snapshot()), tr("Text"));
}

bool DetailsPane::saveCleanCopy(CleanLevel level, const QString& target) {
    const std::string path = currentPath();
    if (path.empty()) {
        say(tr("Nothing on show to clean"));
        return false;
    }
    const std::string copy = QFile::encodeName(target).toStdString();
    const CleanOutcome outcome = vesk::saveCleanCopy(path, copy, level, quiet_);
    if (!outcome.saved) {
        say(tr("No copy saved of %1: %2").arg(fromPath(path), QString::fromStdString(outcome.error)));
        return false;
    }
    // Said once the copy is on show: showing a new file clears the notes before it.
    noteFor_ = copy;
    note_ = QString::fromStdString(cleanStatusText(copy, level));
    reinspect_(copy);
    scheduleRefresh();
    return true;
}

}  // namespace vesk::desktop
