// SPDX-License-Identifier: GPL-3.0-or-later
// The details view's place in the window: the window's six fields and the
// details view share the central area (View > Fields, Ctrl+1; View > Details,
// Ctrl+2; the fields stay the default), File > Export writes what vesk-info
// prints, and the file on show is watched: a change on disk runs the report
// again, and the status line says so, or says that the file has gone.
// File > Save Copy Without Location / Without Metadata writes a cleaned copy
// and opens it, so that its privacy line shows what is left.
#pragma once

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <functional>
#include <string>

#include "inspector/CleanCopy.h"
#include "platform/Log.h"
#include "platform/Services.h"

class QAction;
class QStackedWidget;

namespace vesk::desktop {

class DetailsView;
class MainWindow;

class DetailsPane : public QObject {
    Q_OBJECT
public:
    // `reinspect` runs the report of a path again, as an opened file would.
    DetailsPane(MainWindow& window, const platform::Services& services,
                std::function<void(const std::string& path)> reinspect);
    ~DetailsPane() override;

    // The store changed `key`; called on the window's thread.
    void storeChanged(const std::string& key);

    // The exports, to `target`; false (and the status line says why) when it
    // could not be written or nothing is on show.
    bool exportJson(const QString& target);
    bool exportText(const QString& target);
    // A cleaned copy of the file on show at `target`, then opened; false (and
    // the status line says why) when none was saved.
    bool saveCleanCopy(CleanLevel level, const QString& target);

    DetailsView* view() const { return view_; }
    QStackedWidget* stack() const { return stack_; }
    QAction* fieldsAction() const { return fields_; }
    QAction* detailsAction() const { return details_; }
    QAction* findAction() const { return find_; }
    QAction* exportJsonAction() const { return exportJson_; }
    QAction* exportTextAction() const { return exportText_; }
    QAction* cleanLocationAction() const { return cleanLocation_; }
    QAction* cleanAllAction() const { return cleanAll_; }
    QString statusText() const;

private:
    // How long a note (file changed, export written) covers the outcome.
    static constexpr int kNoteMs = 10000;
    void scheduleRefresh();
    void refresh();
    void watch(const std::string& path);
    void fileEvent();
    void checkFile();
    void say(const QString& text);
    std::string currentPath() const;
    bool writeFile(const QString& target, const std::string& bytes, const QString& what);

    MainWindow& window_;
    platform::Services services_;
    std::function<void(const std::string&)> reinspect_;
    platform::DiscardLogSink quietSink_;
    platform::Log quiet_{quietSink_};
    DetailsView* view_;
    QStackedWidget* stack_;
    QAction* fields_;
    QAction* details_;
    QAction* find_;
    QAction* exportJson_;
    QAction* exportText_;
    QAction* cleanLocation_;
    QAction* cleanAll_;
    // The note to show once the copy just saved is on show.
    std::string noteFor_;
    QString note_;
    QTimer refreshTimer_;
    // Editors write a file in several steps; one report follows the last.
    QTimer settleTimer_;
    QFileSystemWatcher watcher_;
    std::string watched_;
    // What the file was when last reported, so that events that changed
    // nothing (a neighbour in its folder) run no report.
    bool present_ = false;
    QDateTime modified_;
    qint64 size_ = -1;
};

}  // namespace vesk::desktop
