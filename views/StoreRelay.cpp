// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/StoreRelay.h"

#include <mutex>
#include <thread>

namespace vesk {

// What the store's observer and the queued tasks hold: both can outlive the
// relay (the store may be calling the observer on another thread while the
// relay goes away), so they reach the refresh only through this, under its lock.
struct StoreRelay::State : std::enable_shared_from_this<State> {
    std::mutex mutex;
    bool alive = true;
    const std::set<std::string> keys;
    const std::thread::id owner = std::this_thread::get_id();
    std::set<std::string> pending;  // keys with a refresh already on its way
    Post post;
    Refresh refresh;

    State(std::set<std::string> k, Post p, Refresh r)
        : keys(std::move(k)), post(std::move(p)), refresh(std::move(r)) {}

    // On the owner thread, where the relay is destroyed: `alive` cannot turn
    // false between the check and the call, and calling without the lock lets
    // a refresh write the store again.
    void refreshOnOwner(const std::string& key, bool fromQueue) {
        {
            std::lock_guard lock(mutex);
            if (!alive) return;
            // Cleared before reading the store: a change after this posts anew.
            if (fromQueue) pending.erase(key);
        }
        refresh(key);
    }

    void changed(const std::string& key) {
        if (!keys.count(key)) return;
        if (std::this_thread::get_id() == owner) {
            refreshOnOwner(key, false);
            return;
        }
        std::lock_guard lock(mutex);
        if (!alive || !pending.insert(key).second) return;
        post([self = shared_from_this(), key] { self->refreshOnOwner(key, true); });
    }
};

StoreRelay::StoreRelay(std::shared_ptr<platform::UserDefaults> store, std::set<std::string> keys, Post post,
                       Refresh refresh)
    : store_(std::move(store)),
      state_(std::make_shared<State>(std::move(keys), std::move(post), std::move(refresh))) {
    observerToken_ = store_->addObserver(
        [state = state_](const std::string& key, const std::optional<std::string>& /*value*/) {
            state->changed(key);
        });
}

StoreRelay::~StoreRelay() {
    store_->removeObserver(observerToken_);
    // Queued tasks may keep the state a while; what these two captured goes now.
    Post post;
    Refresh refresh;
    std::lock_guard lock(state_->mutex);
    state_->alive = false;
    post.swap(state_->post);
    refresh.swap(state_->refresh);
}

}  // namespace vesk
