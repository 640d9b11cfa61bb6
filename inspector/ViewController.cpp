// SPDX-License-Identifier: GPL-3.0-or-later
#include "inspector/ViewController.h"

#include <algorithm>
#include <string_view>

#include "inspector/ImageReport.h"
#include "inspector/InfoKeys.h"
#include "inspector/Routing.h"
#include "platform/FileSystem.h"
#include "platform/Formats.h"
#include "platform/Process.h"
#include "platform/macho/Bundle.h"
#include "platform/macho/MachOConstants.h"
#include "platform/macho/MachOReader.h"

namespace vesk {

namespace {

using Change = platform::UserDefaults::Change;
namespace macho = platform::macho;

// Where a routed report runs: the bundle and library reports on the thread
// that posted the event, before post() returns; the image report later, on
// the main queue.
struct ReportRoute {
    void (ViewController::*report)(const ViewController::Path&);
    bool onMainQueue;
};

ReportRoute routeFor(ReportKind kind) {
    switch (kind) {
        case ReportKind::Bundle: return {&ViewController::performGetBundleInfo, false};
        case ReportKind::Library: return {&ViewController::performGetDylibInfo, false};
        case ReportKind::Image: break;
    }
    return {&ViewController::performGetImageInfo, true};
}

// A log that also keeps the budget notes written through it, so the outcome
// can tell what a budget cut short.
class NoteTakingSink : public platform::LogSink {
public:
    NoteTakingSink(const platform::Log& next, std::string path) : next_(next), path_(std::move(path)) {}
    void write(const std::string& message) override {
        next_.write(message);
        take(message);
    }
    void take(const std::string& line) {
        if (auto note = budgetNote(line, path_)) notes_.push_back(std::move(*note));
    }
    std::vector<std::string> notes() const { return notes_; }

private:
    platform::Log next_;
    std::string path_;
    std::vector<std::string> notes_;
};

using Architectures = platform::Result<std::vector<std::int32_t>, platform::BundleError>;

// bundleWithPath: + executableArchitectures, logged as "supported architectures = %@".
Architectures loggedArchitectures(const std::string& path, const platform::Log& log) {
    auto codes = platform::Bundle::architecturesAt(path, log);
    std::optional<platform::Value> list;
    if (codes) {
        platform::Array numbers;
        for (const std::int32_t code : *codes) numbers.emplace_back(static_cast<std::int64_t>(code));
        list = platform::Value(std::move(numbers));
    }
    log.nslog("supported architectures = %@", {platform::describe(list)});
    return codes;
}

}  // namespace

ViewController::ViewController(const platform::Services& services)
    : services_(services), revealLog_(std::make_shared<RevealLog>()) {
    revealLog_->log = services_.log;
}

ViewController::~ViewController() {
    services_.log.nslog("%@->%@...", {description(), "dealloc"});
    services_.center.removeObserver(this);
    std::lock_guard lock(revealLog_->mutex);
    revealLog_->log.reset();
}

void ViewController::setOutcomeHandler(OutcomeHandler handler) {
    std::lock_guard lock(outcomeMutex_);
    outcomeHandler_ = std::move(handler);
}

void ViewController::publish(ReportOutcome outcome) const {
    // Called under the lock, so that clearing the handler waits for this call.
    std::lock_guard lock(outcomeMutex_);
    if (outcomeHandler_) outcomeHandler_(outcome);
}

bool ViewController::hasOutcomeHandler() const {
    std::lock_guard lock(outcomeMutex_);
    return static_cast<bool>(outcomeHandler_);
}

std::string ViewController::description() const { return platform::objectDescription("ViewController", this); }

void ViewController::viewWillAppear() {}

void ViewController::viewDidLoad() {
    clearInfo();
    // Held weakly: an event posted on another thread while the last owner lets
    // go finds no controller instead of a freed one.
    services_.center.addObserver(this, platform::kAddFromFileNotification,
                                 [weak = weak_from_this()](const platform::Notification& note) {
                                     if (const auto self = weak.lock()) self->handleAddFromFileNotification(note);
                                 });
    services_.log.nslog("self.view.window.firstResponder = %@",
                        {windowHost_ ? windowHost_->firstResponderDescription() : std::string("(null)")});
    services_.log.nslog("self.ibDoubleClickButton = %@",
                        {ibDoubleClickButton_ ? ibDoubleClickButton_->description() : std::string("(null)")});
    if (ibDoubleClickButton_) ibDoubleClickButton_->setDelegate(weak_from_this());
}

void ViewController::setRepresentedObject(const std::optional<platform::Value>& /*object*/) {
    services_.log.nslog("%@->%@...", {description(), "setRepresentedObject:"});
}

void ViewController::handleAddFromFileNotification(const platform::Notification& notification) {
    services_.log.nslog("Inside %@ => %@... notification.object = %@",
                        {description(), "handleAddFromFileNotification:", platform::describe(notification.object)});
    if (!notification.object) return;
    const auto* list = notification.object->get<platform::Array>();
    if (!list || list->empty()) return;

    const platform::Value& first = list->front();
    Path path;
    if (const auto* url = first.get<platform::Url>())
        path = url->path;
    else if (const auto* text = first.get<std::string>())
        path = *text;
    if (!path) return;

    const ReportRoute route = routeFor(reportKindFor(*path, services_.types));
    if (!route.onMainQueue) {
        (this->*route.report)(path);
        return;
    }
    // The task keeps the controller and the path alive until it has run; the
    // event's delivery holds the controller, so it is still owned here.
    services_.mainQueue.async([self = shared_from_this(), report = route.report, path] { ((*self).*report)(path); });
}

void ViewController::openDocument() {
    services_.log.nslog("%@->%@...", {description(), "openDocument:"});
    const auto panel = windowHost_ ? windowHost_->makeOpenPanel() : nullptr;
    if (!panel) return;
    // Every extension of what Vesk reads, in the table's order (JPEG's first).
    panel->setAllowedFileTypes(platform::formatExtensions());
    panel->setTitle("Select a File to Inspect");
    panel->beginSheetModal([&center = services_.center, &global = services_.globalQueue](
                               int result, std::vector<std::string> paths) {
        // Posted from the global queue, so the routing runs there too.
        global.async([&center, result, paths = std::move(paths)] {
            if (result != OpenPanel::kOKResult) return;
            platform::Array urls;
            for (const auto& path : paths) urls.emplace_back(platform::Url{path});
            center.post(platform::kAddFromFileNotification, platform::Value(std::move(urls)));
        });
    });
}

void ViewController::ibGetExifInfo() { performGetImageInfo(platform::expandTilde("~/Desktop/testexif.jpg")); }

std::string ViewController::defaultOpenToolPath() {
#if defined(__APPLE__)
    return "/usr/bin/open";
#else
    return "/usr/bin/xdg-open";
#endif
}

void ViewController::ibRevealInFinder(const std::string& path) {
    std::string folder = platform::expandTilde(path);
    if (!platform::isDirectory(folder)) {
        folder = platform::deletingLastPathComponent(folder);
        if (!platform::isDirectory(folder)) return;
    }
    // The opener may wait for the file manager it starts until that closes
    // (xdg-open does without a desktop session), so it never runs here.
    const auto logResult = [state = revealLog_](const std::optional<std::string>& output) {
        std::lock_guard lock(state->mutex);
        if (state->log) state->log->nslog("returnstring = %@", {output ? *output : std::string("(null)")});
    };
    if (!platform::runCommandInBackground({openToolPath_, platform::asToolOperand(folder)}, logResult))
        logResult(std::nullopt);
}

void ViewController::ibHandleDoubleClick(MyDoubleClickButton* sender) {
    services_.log.nslog("%@->%@...sender=%@", {description(), "ibHandleDoubleClick:",
                                               sender ? sender->description() : std::string("(null)")});
    if (const auto path = services_.store->get(prefCurFilePath)) ibRevealInFinder(*path);
}

void ViewController::clearInfo() {
    std::vector<Change> changes;
    for (const auto& field : kInfoFields) changes.push_back({field.key, std::nullopt});
    changes.push_back({prefCurFilePath, std::nullopt});
    services_.store->apply(changes);
}

bool ViewController::beginReport(const Path& path, std::vector<Change>& changes) const {
    if (!path || !platform::fileExists(*path)) return false;
    for (const auto& field : kInfoFields) changes.push_back({field.key, std::nullopt});
    changes.push_back({prefCurFilePath, std::nullopt});
    changes.push_back({prefCurFilePath, *path});
    return true;
}

void ViewController::performGetDylibInfo(const Path& path) {
    std::vector<Change> changes;
    if (!beginReport(path, changes)) {
        if (path && !path->empty()) publish({*path, kOutcomeNoSuchFile, {}, true});
        return;
    }
    changes.push_back({prefTextViewString1, ""});
    // Saved before the tool runs, so the window shows which file is being read.
    services_.store->apply(changes);
    const auto description = platform::runCommand({"/usr/bin/file", platform::asToolOperand(*path)});
    services_.store->set(prefTextViewString1,
                         description ? *description : std::string("Unable to get info from this camera..."));

    ReportOutcome outcome{*path, kOutcomeLibraryDescribed, {}, false};
    if (auto reason = unreadableReason(*path)) {
        outcome = {*path, cannotReadText(*reason), {}, true};
    } else {
        std::optional<macho::Identity> identity;
        if (auto file = macho::FileSource::open(*path)) identity = macho::identify(file.value());
        if (!identity)
            outcome = {*path, kOutcomeNotMachO, {}, true};
        else if (!description)
            outcome = {*path, kOutcomeNoDescription, {}, true};
        else if (identity->filetype != macho::MH_DYLIB)
            outcome.text = kOutcomeMachONotLibrary;
    }
    publish(std::move(outcome));
}

void ViewController::performGetBundleInfo(const Path& path) {
    std::vector<Change> changes;
    if (!beginReport(path, changes)) {
        if (path && !path->empty()) publish({*path, kOutcomeNoSuchFile, {}, true});
        return;
    }
    changes.push_back({prefTextViewString1, ""});
    std::string report;
    NoteTakingSink notes(services_.log, *path);
    const auto codes = loggedArchitectures(*path, platform::Log(notes));
    if (codes) {
        for (const std::int32_t code : *codes) {
            const std::string text = architectureLogText(code);
            services_.log.nslog("%@", {text});
            // Each entry is its log text followed by one blank.
            report += text + " \n";
        }
    }
    changes.push_back({prefTextViewString1, std::move(report)});
    services_.store->apply(changes);

    ReportOutcome outcome{*path, "", notes.notes(), true};
    if (codes) {
        outcome.text = architecturesShownText(codes->size());
        outcome.failed = codes->empty();
    } else {
        // The reader said why; nothing is looked at again.
        using Kind = platform::BundleError::Kind;
        switch (codes.error().kind) {
        case Kind::NotAFolder: outcome.text = kOutcomeNotABundle; break;
        case Kind::Unreadable: outcome.text = cannotReadText(codes.error().reason); break;
        case Kind::NoExecutable: outcome.text = kOutcomeNoExecutable; break;
        case Kind::NotMachO: outcome.text = kOutcomeExecutableNotMachO; break;
        case Kind::Malformed: outcome.text = std::string(kOutcomeExecutableMalformed) + ": " + codes.error().reason; break;
        }
    }
    publish(std::move(outcome));
}

bool ViewController::isModuleAtPath(const Path& path, std::int32_t type) {
    if (!path || !platform::fileExists(*path)) return false;
    const auto codes = loggedArchitectures(*path, services_.log);
    if (!codes) return false;
    for (const std::int32_t code : *codes) {
        services_.log.nslog("%@", {architectureLogText(code)});
        // The code itself is compared, so a code the table does not name still matches.
        if (code == type) return true;
    }
    return false;
}

void ViewController::performGetImageInfo(const Path& path) {
    std::vector<Change> changes;
    if (!beginReport(path, changes)) {
        if (path && !path->empty()) publish({*path, kOutcomeNoSuchFile, {}, true});
        return;
    }
    NoteTakingSink notes(services_.log, *path);
    std::string wholeComment;
    auto properties = readImageProperties(*path, platform::Log(notes), &wholeComment);
    const bool found = properties.has_value();
    ImageReport report = buildImageReport(std::move(properties), platform::temporaryDirectory(), wholeComment);
    for (const auto& line : report.logLines) {
        services_.log.write(line);
        notes.take(line);
    }
    for (std::size_t i = 0; i < report.fields.size(); ++i)
        if (report.fields[i]) changes.push_back({kInfoFields[i].key, std::move(*report.fields[i])});
    services_.store->apply(changes);

    // Nobody to tell (vesk-info): the outcome's look at the file is spared.
    if (!hasOutcomeHandler()) return;
    ReportOutcome outcome{*path, kOutcomeImageShown, notes.notes(), false};
    if (auto reason = unreadableReason(*path))
        outcome = {*path, cannotReadText(*reason), {}, true};
    else if (!found)
        outcome = {*path, kOutcomeNoImageMetadata, notes.notes(), true};
    publish(std::move(outcome));
}

}  // namespace vesk
