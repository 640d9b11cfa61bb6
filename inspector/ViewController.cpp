#include "inspector/ViewController.h"

#include <algorithm>
#include <cctype>

#include "inspector/InfoKeys.h"
#include "platform/Dispatch.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "platform/image/ImageSource.h"

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

// Every lookup in a missing dictionary finds nothing.
const platform::Dictionary* subDictionary(const std::optional<platform::Dictionary>& properties, const char* key) {
    if (!properties) return nullptr;
    auto it = properties->find(key);
    return it == properties->end() ? nullptr : it->second.get<platform::Dictionary>();
}

// addEntriesFromDictionary: of each present sub-dictionary, in order.
platform::Dictionary mergeSubDictionaries(const std::optional<platform::Dictionary>& properties,
                                          std::initializer_list<const char*> keys) {
    platform::Dictionary merged;
    for (const char* key : keys)
        if (const auto* d = subDictionary(properties, key))
            for (const auto& [k, v] : *d) merged[k] = v;
    return merged;
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

    const std::optional<platform::Dictionary> info = exif(*path);
    std::optional<platform::Value> infoValue;
    std::optional<platform::Value> allKeys;
    if (info) {
        infoValue = platform::Value(*info);
        platform::Array keys;
        for (const auto& entry : *info) keys.emplace_back(entry.first);
        allKeys = platform::Value(std::move(keys));
    }
    nslog("exif info = %@", {platform::describe(infoValue)});
    nslog("exif info.allkeys = %@", {platform::describe(allKeys)});

    if (infoValue) store_->set(prefTextViewString1, platform::describe(*infoValue));

    store_->set(prefTextViewString2, platform::describe(platform::Value(mergedExifDictionary(info))));

    if (const auto* exifDict = subDictionary(info, platform::kImagePropertyExifDictionary)) {
        if (auto it = exifDict->find("UserComment"); it != exifDict->end()) {
            // A comment that is not text is written as its Dictionary text.
            const auto* text = it->second.get<std::string>();
            const std::string comment = text ? *text : platform::describe(it->second);
            const std::string commentPath =
                platform::appendingPathComponent(platform::temporaryDirectory(), "usercomment.xml");
            if (auto error = platform::atomicWriteFile(commentPath, comment, /*privateDirOnly=*/true)) {
                nslog("writing error = %@", {*error});
            } else {
                std::optional<platform::Value> uc;
                if (auto d = platform::dictionaryWithContentsOfFile(commentPath)) uc = platform::Value(std::move(*d));
                nslog("uc = %@", {platform::describe(uc)});
                store_->set(prefTextViewString3, platform::describe(uc));
            }
        }
    }

    if (const auto* jfif = subDictionary(info, platform::kImagePropertyJFIFDictionary))
        store_->set(prefTextViewString4, platform::describe(platform::Value(*jfif)));
    if (const auto* tiff = subDictionary(info, platform::kImagePropertyTIFFDictionary))
        store_->set(prefTextViewString5, platform::describe(platform::Value(*tiff)));

    // The maker dictionary always exists, so an image without maker notes
    // shows the empty dictionary's text.
    store_->set(prefTextViewString6, platform::describe(platform::Value(makerNoteDictionary(info))));
}

platform::Dictionary ViewController::mergedExifDictionary(const std::optional<platform::Dictionary>& properties) {
    return mergeSubDictionaries(properties,
                                {platform::kImagePropertyExifDictionary, platform::kImagePropertyExifAuxDictionary});
}

platform::Dictionary ViewController::makerNoteDictionary(const std::optional<platform::Dictionary>& properties) {
    return mergeSubDictionaries(
        properties, {platform::kImagePropertyMakerNikonDictionary, platform::kImagePropertyMakerCanonDictionary,
                     platform::kImagePropertyMakerAppleDictionary, platform::kImagePropertyMakerFujiDictionary,
                     platform::kImagePropertyMakerPentaxDictionary});
}

std::optional<platform::Dictionary> ViewController::exif(const std::string& path) {
    // fileURLWithPath: has no URL for an empty path.
    if (path.empty()) return std::nullopt;
    const auto source = platform::ImageSource::createWithPath(path);
    if (!source) {
        nslog("Error: file name : %@ - Status: %d",
              {path, std::to_string(platform::imageSourceGetStatus(nullptr))});
        return std::nullopt;
    }
    return source->copyPropertiesAtIndex(0);
}

}  // namespace vesk
