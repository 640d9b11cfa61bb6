// SPDX-License-Identifier: GPL-3.0-or-later
// The relay between the store and a view's thread: the window's binder uses it
// with the Qt event loop; here the owner drains a DrainedQueue by hand, so
// ThreadSanitizer sees every thread involved (Qt's libraries are not built
// for it).
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/Dispatch.h"
#include "platform/UserDefaults.h"
#include "views/StoreRelay.h"

using namespace vesk;
using platform::DrainedQueue;
using platform::MemoryUserDefaults;

namespace {

// The owner side: what each refresh saw, checked to run on the owner thread.
struct Owner {
    std::shared_ptr<MemoryUserDefaults> store = std::make_shared<MemoryUserDefaults>();
    DrainedQueue queue;
    const std::thread::id thread = std::this_thread::get_id();
    std::map<std::string, std::optional<std::string>> shown;
    std::size_t refreshes = 0;
    bool offOwnerThread = false;  // written on the owner thread only

    std::unique_ptr<StoreRelay> relay(std::set<std::string> keys) {
        return std::make_unique<StoreRelay>(
            store, std::move(keys), [this](StoreRelay::Task task) { queue.async(std::move(task)); },
            [this](const std::string& key) { record(key); });
    }
    void record(const std::string& key) {
        if (std::this_thread::get_id() != thread) offOwnerThread = true;
        shown[key] = store->get(key);
        ++refreshes;
    }
};

}  // namespace

TEST(StoreRelay, ChangeOnTheOwnerThreadRefreshesAtOnce) {
    Owner owner;
    auto relay = owner.relay({"a"});
    owner.store->set("a", "here");
    EXPECT_EQ(owner.shown["a"], "here");
    EXPECT_EQ(owner.queue.pending(), 0u);
}

TEST(StoreRelay, ChangeOnAnotherThreadRunsOnTheOwnerWhenItDrains) {
    Owner owner;
    auto relay = owner.relay({"a"});
    std::thread([&] { owner.store->set("a", "from the worker"); }).join();
    EXPECT_EQ(owner.refreshes, 0u);
    EXPECT_EQ(owner.queue.drain(), 1u);
    EXPECT_EQ(owner.shown["a"], "from the worker");
    EXPECT_FALSE(owner.offOwnerThread);
}

TEST(StoreRelay, AtMostOneRefreshPerKeyInFlightAndOnlyForItsKeys) {
    Owner owner;
    auto relay = owner.relay({"a", "b"});
    std::thread([&] {
        for (int i = 0; i < 100; ++i) {
            owner.store->set("a", std::to_string(i));
            owner.store->set("b", std::to_string(-i));
            owner.store->set("unbound", "x");
        }
        owner.store->remove("b");
    }).join();
    EXPECT_EQ(owner.queue.pending(), 2u);
    owner.queue.drain();
    EXPECT_EQ(owner.refreshes, 2u);
    EXPECT_EQ(owner.shown["a"], "99");
    EXPECT_EQ(owner.shown["b"], std::nullopt);
    EXPECT_EQ(owner.shown.count("unbound"), 0u);

    // Once that refresh ran, the next change posts again.
    std::thread([&] { owner.store->set("a", "again"); }).join();
    EXPECT_EQ(owner.queue.drain(), 1u);
    EXPECT_EQ(owner.shown["a"], "again");
}

TEST(StoreRelay, ARefreshMayWriteTheStore) {
    Owner owner;
    auto relay = std::make_unique<StoreRelay>(
        owner.store, std::set<std::string>{"a", "mirror"},
        [&](StoreRelay::Task task) { owner.queue.async(std::move(task)); },
        [&](const std::string& key) {
            owner.record(key);
            if (key == "a") owner.store->set("mirror", *owner.store->get("a"));
        });
    std::thread([&] { owner.store->set("a", "copied"); }).join();
    owner.queue.drain();
    EXPECT_EQ(owner.shown["mirror"], "copied");
}

TEST(StoreRelay, WritersOnSeveralThreadsEndOnTheStoresValues) {
    Owner owner;
    const std::set<std::string> keys{"a", "b", "c"};
    auto relay = owner.relay(keys);
    std::atomic<int> writing{4};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i)
                for (const auto& key : keys) owner.store->set(key, std::to_string(t * 1000 + i));
            --writing;
        });
    while (writing > 0) owner.queue.drain();
    for (auto& w : writers) w.join();
    owner.queue.drain();
    EXPECT_FALSE(owner.offOwnerThread);
    for (const auto& key : keys) EXPECT_EQ(owner.shown[key], owner.store->get(key)) << key;
}

TEST(StoreRelay, DroppedMidStreamWhileOtherThreadsKeepWriting) {
    Owner owner;
    const std::set<std::string> keys{"a", "b"};
    auto relay = owner.relay(keys);
    std::atomic<bool> stop{false};
    std::atomic<long> writes{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; !stop; ++i) {
                owner.store->set(i % 2 ? "a" : "b", std::to_string(t) + ":" + std::to_string(i));
                ++writes;
            }
        });
    while (owner.refreshes < 50) owner.queue.drain();

    relay.reset();  // writers still going, refreshes possibly still queued
    const std::size_t refreshesWhenDropped = owner.refreshes;
    const long writesWhenDropped = writes;
    while (writes < writesWhenDropped + 2000) owner.queue.drain();
    stop = true;
    for (auto& w : writers) w.join();
    owner.queue.drain();

    EXPECT_EQ(owner.refreshes, refreshesWhenDropped);
    EXPECT_FALSE(owner.offOwnerThread);
}

TEST(StoreRelay, WhatTheCallbacksHeldIsReleasedWithTheRelay) {
    Owner owner;
    auto held = std::make_shared<int>(0);
    auto relay = std::make_unique<StoreRelay>(
        owner.store, std::set<std::string>{"a"},
        [&owner, held](StoreRelay::Task task) { owner.queue.async(std::move(task)); },
        [held](const std::string&) {});
    std::thread([&] { owner.store->set("a", "queued"); }).join();
    ASSERT_EQ(owner.queue.pending(), 1u);
    relay.reset();
    EXPECT_EQ(held.use_count(), 1);  // though a task is still queued
    EXPECT_EQ(owner.queue.drain(), 1u);
}
