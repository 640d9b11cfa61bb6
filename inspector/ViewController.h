// SPDX-License-Identifier: GPL-3.0-or-later
// The inspector: the window's view controller. It takes the file-add event,
// routes the first file to one of three reports (reportKindFor: by its
// extension, then its type) and publishes every report as text in the info
// store, one batch per report.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/NotificationCenter.h"
#include "platform/Services.h"
#include "platform/UserDefaults.h"
#include "inspector/ReportOutcome.h"
#include "platform/Value.h"
#include "views/MyDoubleClickButton.h"

namespace vesk {

// The Open panel: lets the user pick one file of the allowed types.
class OpenPanel {
public:
    using Completion = std::function<void(int result, std::vector<std::string> paths)>;
    static constexpr int kOKResult = 1;

    virtual ~OpenPanel() = default;
    virtual void setTitle(const std::string& title) = 0;
    // Extensions, in the order given.
    virtual void setAllowedFileTypes(const std::vector<std::string>& types) = 0;
    // Shows the panel as a sheet on the window and returns at once. When it
    // closes, `completion` runs once on the main thread with kOKResult and the
    // chosen paths, or another result. The panel keeps itself alive until then.
    virtual void beginSheetModal(Completion completion) = 0;
};

// What the inspector needs of the window it sits in; the desktop provides it.
class WindowHost {
public:
    virtual ~WindowHost() = default;
    // "%@" of the window's first responder.
    virtual std::string firstResponderDescription() const = 0;
    // A new Open panel for this window; nullptr when the window cannot show one.
    virtual std::shared_ptr<OpenPanel> makeOpenPanel() { return nullptr; }
};

class ViewController : public std::enable_shared_from_this<ViewController>, public DoubleClickDelegate {
public:
    using Path = std::optional<std::string>;

    // The controller writes the services' store and listens on their centre.
    // Own it through std::make_shared: events and queued reports reach it
    // through weak references.
    explicit ViewController(const platform::Services& services);
    ~ViewController();  // dealloc
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    // Life cycle.
    void viewWillAppear();
    void viewDidLoad();
    void setRepresentedObject(const std::optional<platform::Value>& object);

    // Routing of the file-add event; may run on any thread, the posting one.
    void handleAddFromFileNotification(const platform::Notification& notification);

    // What became of each file a report was handed, told once per report on
    // the report's thread, after its last store change. Replacing or clearing
    // the handler waits until a call in progress has returned, so once
    // setOutcomeHandler({}) returns the old handler is never called again.
    using OutcomeHandler = std::function<void(const ReportOutcome&)>;
    void setOutcomeHandler(OutcomeHandler handler);

    // Window actions.
    void openDocument();
    void ibGetExifInfo();
    // Opens, in the file manager, the folder `path` names or the folder holding it.
    void ibRevealInFinder(const std::string& path);
    // The button's call: reveals the folder of the file on show.
    void ibHandleDoubleClick(MyDoubleClickButton* sender) override;
    bool respondsToHandleDoubleClick() const override { return true; }

    // The tool that shows a folder in the file manager: /usr/bin/open on
    // macOS, xdg-open elsewhere (Debian's /usr/bin/open is openvt). It runs on
    // a thread of its own, so an opener that stays in the foreground until
    // the file manager closes holds up nothing; "returnstring = %@" is logged
    // when it ends, unless the controller has gone by then.
    static std::string defaultOpenToolPath();
    void setOpenToolPath(std::string path) { openToolPath_ = std::move(path); }

    // Info store.
    void clearInfo();

    // Reports.
    void performGetDylibInfo(const Path& path);
    void performGetBundleInfo(const Path& path);
    void performGetImageInfo(const Path& path);

    // isModuleAtPath:OfType: whether the bundle's executable holds a slice of
    // architecture `type`; never touches the info store.
    bool isModuleAtPath(const Path& path, std::int32_t type);

    // Outlet to the window's button; not owned.
    MyDoubleClickButton* ibDoubleClickButton() const { return ibDoubleClickButton_; }
    void setIbDoubleClickButton(MyDoubleClickButton* button) { ibDoubleClickButton_ = button; }

    void setWindowHost(WindowHost* host) { windowHost_ = host; }
    platform::UserDefaults& store() const { return *services_.store; }
    // "%@" of the controller: "<ViewController: 0x...>".
    std::string description() const;

private:
    // The steps every report shares: nothing at the path -> false and no change;
    // otherwise the changes that clear the store and record the path.
    bool beginReport(const Path& path, std::vector<platform::UserDefaults::Change>& changes) const;
    // Tells the outcome handler, if any.
    void publish(ReportOutcome outcome) const;
    // Whether an outcome handler is set, so an outcome is worth working out.
    bool hasOutcomeHandler() const;

    // What a reveal still running logs through: its opener may end after the
    // controller, and the services it was handed, have gone.
    struct RevealLog {
        std::mutex mutex;
        std::optional<platform::Log> log;  // reset by dealloc
    };

    platform::Services services_;
    MyDoubleClickButton* ibDoubleClickButton_ = nullptr;
    WindowHost* windowHost_ = nullptr;
    std::string openToolPath_ = defaultOpenToolPath();
    std::shared_ptr<RevealLog> revealLog_;
    mutable std::mutex outcomeMutex_;
    OutcomeHandler outcomeHandler_;
};

}  // namespace vesk
