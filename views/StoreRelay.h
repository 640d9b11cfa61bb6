// SPDX-License-Identifier: GPL-3.0-or-later
// Carries the store's changes of some keys to the thread that owns a view:
// a change made there refreshes at once; a change made on another thread is
// posted to the owner thread, with at most one refresh per key in flight
// (it reads the store when it runs, so it shows the latest value).
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>

#include "platform/UserDefaults.h"

namespace vesk {

class StoreRelay {
public:
    using Task = std::function<void()>;
    // Queues a task to run later on the owner thread (a main queue's async, or
    // the window's event loop). Called with the relay's lock held, so it must
    // not call back into the relay.
    using Post = std::function<void(Task)>;
    using Refresh = std::function<void(const std::string& key)>;

    // The owner thread is the constructing one; destroy the relay there too.
    // Other threads may keep writing the store during and after that: once the
    // destructor returns, `refresh` is never called again and tasks still
    // queued do nothing.
    StoreRelay(std::shared_ptr<platform::UserDefaults> store, std::set<std::string> keys, Post post,
               Refresh refresh);
    ~StoreRelay();
    StoreRelay(const StoreRelay&) = delete;
    StoreRelay& operator=(const StoreRelay&) = delete;

private:
    struct State;
    std::shared_ptr<platform::UserDefaults> store_;
    std::shared_ptr<State> state_;
    int observerToken_ = 0;
};

}  // namespace vesk
