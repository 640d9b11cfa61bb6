// SPDX-License-Identifier: GPL-3.0-or-later
// In-process events: delivered synchronously, on the posting thread, to every
// subscriber of the name, before post() returns.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Value.h"

namespace vesk::platform {

struct Notification {
    std::string name;
    std::optional<Value> object;
    std::optional<Dictionary> userInfo;
};

class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    // `observer` identifies the subscription for removeObserver(); it is never dereferenced.
    void addObserver(const void* observer, std::string name, Handler handler);
    // Ends every subscription of `observer`; none of its handlers starts after this returns.
    void removeObserver(const void* observer);

    void post(const std::string& name, std::optional<Value> object = std::nullopt,
              std::optional<Dictionary> userInfo = std::nullopt);

    std::size_t observerCount() const;

private:
    struct Entry {
        const void* observer;
        std::string name;
        Handler handler;
        std::shared_ptr<bool> live;  // guarded by mutex_
    };
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

// The two events of the system.
inline constexpr const char* kAddFromFileNotification = "VeskNotificationAddFromFile";
inline constexpr const char* kAddFromStringNotification = "VeskNotificationAddFromString";

}  // namespace vesk::platform
