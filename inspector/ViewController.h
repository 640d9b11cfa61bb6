// The inspector: the window's view controller. It takes the file-add event,
// routes the first file by its extension to one of three reports and
// publishes every report as text in the info store.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/Value.h"

namespace vesk {

class MyDoubleClickButton;

// What the inspector needs of the window it sits in; the desktop provides it.
class WindowHost {
public:
    virtual ~WindowHost() = default;
    // "%@" of the window's first responder.
    virtual std::string firstResponderDescription() const = 0;
};

class ViewController : public std::enable_shared_from_this<ViewController> {
public:
    using Path = std::optional<std::string>;

    // The controller writes `store`; nullptr means the standard user defaults.
    static std::shared_ptr<ViewController> create(std::shared_ptr<platform::UserDefaults> store = nullptr,
                                                  platform::NotificationCenter* center = nullptr);
    ~ViewController();  // dealloc
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    // Life cycle.
    void viewWillAppear();
    void viewDidLoad();
    void setRepresentedObject(const std::optional<platform::Value>& object);

    // Routing of the file-add event; may run on any thread, the posting one.
    void handleAddFromFileNotification(const platform::Notification& notification);

    // Window actions.
    void ibGetExifInfo();

    // Info store.
    void clearInfo();

    // Reports.
    void performGetDylibInfo(const Path& path);
    void performGetBundleInfo(const Path& path);
    void performGetImageInfo(const Path& path);

    // The image property dictionary of a file's first image, or nothing.
    static std::optional<platform::Dictionary> exif(const std::string& path);
    // What the image report shows of an image property dictionary: "{Exif}"
    // then "{ExifAux}", and the five maker dictionaries Nikon, Canon, Apple,
    // Fuji, Pentax; a later source replaces the value of an equal key.
    static platform::Dictionary mergedExifDictionary(const std::optional<platform::Dictionary>& properties);
    static platform::Dictionary makerNoteDictionary(const std::optional<platform::Dictionary>& properties);

    // Outlet to the window's button; not owned.
    MyDoubleClickButton* ibDoubleClickButton() const { return ibDoubleClickButton_; }
    void setIbDoubleClickButton(MyDoubleClickButton* button) { ibDoubleClickButton_ = button; }

    void setWindowHost(WindowHost* host) { windowHost_ = host; }
    platform::UserDefaults& store() const { return *store_; }
    // "%@" of the controller: "<ViewController: 0x...>".
    std::string description() const;

private:
    ViewController(std::shared_ptr<platform::UserDefaults> store, platform::NotificationCenter* center);
    // The steps every report shares: nothing at the path -> false and no change;
    // otherwise the store is cleared and the path recorded.
    bool beginReport(const Path& path);

    std::shared_ptr<platform::UserDefaults> store_;
    platform::NotificationCenter* center_;
    MyDoubleClickButton* ibDoubleClickButton_ = nullptr;
    WindowHost* windowHost_ = nullptr;
};

}  // namespace vesk
