#include "inspector/ViewController.h"

#include <algorithm>
#include <cctype>

#include "inspector/InfoKeys.h"
#include "platform/Dispatch.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/macho/Bundle.h"

namespace vesk {

using platform::nslog;

namespace {

bool equalsIgnoringCase(const std::string& a, const char* b) {
    const std::string_view bv(b);
    return a.size() == bv.size() &&
           std::equal(a.begin(), a.end(), bv.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// The architecture table: a code matches a row by equality only.
struct ArchitectureRow {
    std::int32_t code;
    const char* logText;
};

constexpr ArchitectureRow kArchitectureTable[] = {
    {7, "NSBundleExecutableArchitectureI386"},
    {18, "NSBundleExecutableArchitecturePPC"},
    {16777223, "NSBundleExecutableArchitectureX86_64"},
    {16777234, "NSBundleExecutableArchitecturePPC64"},
    // Apple silicon; the platform's own list of executable architectures names it.
    {0x0100000C, "NSBundleExecutableArchitectureARM64"},
};
constexpr const char* kUnknownArchitecture = "Unknown_Architecture";

std::string architectureLogText(std::int32_t code) {
    for (const auto& row : kArchitectureTable)
        if (row.code == code) return row.logText;
    return kUnknownArchitecture;
}

// Each report entry is its log text followed by one blank.
std::string architectureReportEntry(std::int32_t code) { return architectureLogText(code) + " "; }

// bundleWithPath: + executableArchitectures, logged as "supported architectures = %@".
std::optional<std::vector<std::int32_t>> loggedArchitectures(const std::string& path) {
    std::optional<std::vector<std::int32_t>> codes;
    if (auto bundle = platform::Bundle::bundleWithPath(path)) codes = bundle->executableArchitectures();
    std::optional<platform::Value> list;
    if (codes) {
        platform::Array numbers;
        for (const std::int32_t code : *codes) numbers.emplace_back(static_cast<std::int64_t>(code));
        list = platform::Value(std::move(numbers));
    }
    nslog("supported architectures = %@", {platform::describe(list)});
    return codes;
}

}  // namespace

std::shared_ptr<ViewController> ViewController::create(std::shared_ptr<platform::UserDefaults> store,
                                                       platform::NotificationCenter* center) {
    return std::shared_ptr<ViewController>(new ViewController(std::move(store), center));
}

ViewController::ViewController(std::shared_ptr<platform::UserDefaults> store, platform::NotificationCenter* center)
    : store_(store ? std::move(store) : platform::standardUserDefaults()),
      center_(center ? center : &platform::NotificationCenter::defaultCenter()) {}

ViewController::~ViewController() {
    nslog("%@->%@...", {description(), "dealloc"});
    center_->removeObserver(this);
}

std::string ViewController::description() const { return platform::objectDescription("ViewController", this); }

void ViewController::viewWillAppear() {}

void ViewController::viewDidLoad() {
    clearInfo();
    center_->addObserver(this, platform::kAddFromFileNotification,
                         [this](const platform::Notification& note) { handleAddFromFileNotification(note); });
    nslog("self.view.window.firstResponder = %@",
          {windowHost_ ? windowHost_->firstResponderDescription() : std::string("(null)")});
}

void ViewController::setRepresentedObject(const std::optional<platform::Value>& /*object*/) {
    nslog("%@->%@...", {description(), "setRepresentedObject:"});
}

void ViewController::handleAddFromFileNotification(const platform::Notification& notification) {
    nslog("Inside %@ => %@... notification.object = %@",
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

    const std::string ext = path ? platform::pathExtension(*path) : std::string();
    if (equalsIgnoringCase(ext, "bundle")) {
        performGetBundleInfo(path);
    } else if (equalsIgnoringCase(ext, "dylib")) {
        performGetDylibInfo(path);
    } else if (path) {
        // The task keeps the controller and the path alive until it has run.
        platform::mainQueue().async([self = shared_from_this(), path] { self->performGetImageInfo(path); });
    }
}

void ViewController::ibGetExifInfo() { performGetImageInfo(platform::expandTilde("~/Desktop/testexif.jpg")); }

void ViewController::clearInfo() {
    for (const auto& field : kInfoFields) store_->remove(field.key);
    store_->remove(prefCurFilePath);
}

bool ViewController::beginReport(const Path& path) {
    if (!path || !platform::fileExists(*path)) return false;
    clearInfo();
    store_->set(prefCurFilePath, *path);
    return true;
}

void ViewController::performGetDylibInfo(const Path& path) {
    if (!beginReport(path)) return;
    store_->set(prefTextViewString1, "");
}

void ViewController::performGetBundleInfo(const Path& path) {
    if (!beginReport(path)) return;
    store_->set(prefTextViewString1, "");
    std::string report;
    if (const auto codes = loggedArchitectures(*path)) {
        for (const std::int32_t code : *codes) {
            nslog("%@", {architectureLogText(code)});
            report += architectureReportEntry(code) + "\n";
        }
    }
    store_->set(prefTextViewString1, report);
}

bool ViewController::isModuleAtPath(const Path& path, std::int32_t type) {
    if (!path || !platform::fileExists(*path)) return false;
    const auto codes = loggedArchitectures(*path);
    if (!codes) return false;
    for (const std::int32_t code : *codes) {
        nslog("%@", {architectureLogText(code)});
        // The code itself is compared, so a code the table does not name still matches.
        if (code == type) return true;
    }
    return false;
}

void ViewController::performGetImageInfo(const Path& path) {
    if (!beginReport(path)) return;
}

std::optional<platform::Dictionary> ViewController::exif(const std::string& /*path*/) { return std::nullopt; }

}  // namespace vesk
