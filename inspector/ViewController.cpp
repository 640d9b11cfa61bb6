#include "inspector/ViewController.h"

#include <algorithm>
#include <cctype>

#include "inspector/InfoKeys.h"
#include "platform/Dispatch.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"

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
}

void ViewController::performGetImageInfo(const Path& path) {
    if (!beginReport(path)) return;
}

std::optional<platform::Dictionary> ViewController::exif(const std::string& /*path*/) { return std::nullopt; }

}  // namespace vesk
