// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/NotificationCenter.h"

#include <algorithm>

namespace vesk::platform {

void NotificationCenter::addObserver(const void* observer, std::string name, Handler handler) {
    std::lock_guard lock(mutex_);
    entries_.push_back({observer, std::move(name), std::move(handler), std::make_shared<bool>(true)});
}

void NotificationCenter::removeObserver(const void* observer) {
    std::lock_guard lock(mutex_);
    for (auto& e : entries_)
        if (e.observer == observer) *e.live = false;
    std::erase_if(entries_, [&](const Entry& e) { return e.observer == observer; });
}

void NotificationCenter::post(const std::string& name, std::optional<Value> object,
                              std::optional<Dictionary> userInfo) {
    const Notification note{name, std::move(object), std::move(userInfo)};
    // Handlers run without the lock held, so they may post or subscribe in turn.
    std::vector<std::pair<Handler, std::shared_ptr<bool>>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const auto& e : entries_)
            if (e.name == name) targets.emplace_back(e.handler, e.live);
    }
    for (auto& [handler, live] : targets) {
        bool stillSubscribed;
        {
            std::lock_guard lock(mutex_);
            stillSubscribed = *live;
        }
        if (stillSubscribed) handler(note);
    }
}

std::size_t NotificationCenter::observerCount() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

}  // namespace vesk::platform
