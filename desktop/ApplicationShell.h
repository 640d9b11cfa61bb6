// SPDX-License-Identifier: GPL-3.0-or-later
// The application around the window: loads it with its inspector, runs the
// launch steps of the application delegate, and hands documents given on the
// command line or by the desktop to the delegate as one list, after launch.
#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "inspector/ViewController.h"
#include "platform/Services.h"
#include "views/StoreRelay.h"

namespace vesk::desktop {

class DetailsPane;
class InfoBinder;
class MainWindow;
class ShowInFolder;
class WindowState;

class ApplicationShell : public QObject, private WindowHost {
    Q_OBJECT
public:
    // Needs a QApplication. The window and everything in it work through
    // `services`, whose main queue must run on this thread's event loop.
    explicit ApplicationShell(const platform::Services& services, QObject* parent = nullptr);
    ~ApplicationShell() override;

    // Loads and shows the window, finishes launching, then opens `files`
    // (paths as the file system's bytes, which need not be UTF-8).
    void launch(const std::vector<std::string>& files);
    void launch(const QStringList& files = {});
    // Documents handed over by the desktop. Those arriving together (in the
    // same turn of the event loop, or before launch has finished) reach the
    // delegate as one list.
    void openFiles(const std::vector<std::string>& files);
    void openFiles(const QStringList& files);

    MainWindow& window() const { return *window_; }
    // The details view and its commands; the window owns it.
    DetailsPane& details() const { return *details_; }
    // Size, splitters, view and recent files kept between runs; the window owns it.
    WindowState& windowState() const { return *windowState_; }
    ViewController& viewController() const { return *viewController_; }
    // File > Show in Folder's way to the file manager; the shell owns it.
    ShowInFolder& showInFolder() const { return *showInFolder_; }
    AppDelegate& delegate() { return delegate_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::string firstResponderDescription() const override;
    std::shared_ptr<OpenPanel> makeOpenPanel() override;
    void showAbout();
    void flushOpenFiles();
    // The status line for `outcome`, from any thread.
    void showOutcome(const ReportOutcome& outcome);
    void displayOutcome(const ReportOutcome& outcome);
    // Files that arrived together (dropped, opened, given on the command
    // line) become the set Next and Previous step through; on this thread.
    void noteFileSet(std::vector<std::string> paths);
    void step(int by);
    // Posts `path` as a file-add event that keeps the set as it is.
    void showInSet(const std::string& path);

    platform::Services services_;
    std::unique_ptr<MainWindow> window_;
    std::shared_ptr<ViewController> viewController_;
    std::unique_ptr<InfoBinder> binder_;
    DetailsPane* details_ = nullptr;
    WindowState* windowState_ = nullptr;
    ShowInFolder* showInFolder_ = nullptr;
    // Saves are not flushed to the disk as they happen; a few seconds after
    // the last change, and at quit, the store makes them durable.
    QTimer idleSync_;
    std::unique_ptr<StoreRelay> storeChanges_;
    AppDelegate delegate_;
    std::vector<std::string> pendingFiles_;
    std::vector<std::string> fileSet_;
    std::size_t fileAt_ = 0;
    bool stepping_ = false;
    // The files of the drop being taken in that were not taken, and what
    // the status line says of them while the set is on show.
    std::vector<ReportOutcome> refusedNow_;
    std::string refusedNote_;
    bool launched_ = false;
    bool flushScheduled_ = false;
};

// Command-line file arguments as the delegate takes them: absolute paths,
// cleaned of "." and ".." steps, file URLs turned into their paths. The byte
// form keeps names that are not UTF-8 as they are.
std::vector<std::string> absoluteFilePaths(const std::vector<std::string>& arguments);
QStringList absoluteFilePaths(const QStringList& arguments);

}  // namespace vesk::desktop
