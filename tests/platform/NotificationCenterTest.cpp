// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/NotificationCenter.h"

using namespace vesk::platform;

TEST(NotificationCenter, DeliversSynchronouslyOnThePostingThreadToEverySubscriber) {
    NotificationCenter center;
    int a = 0, b = 0;
    std::thread::id seenOn;
    center.addObserver(&a, "ev", [&](const Notification& n) {
        ++a;
        seenOn = std::this_thread::get_id();
        ASSERT_TRUE(n.object);
        EXPECT_EQ(*n.object, Value(Array{Value("x")}));
    });
    center.addObserver(&b, "ev", [&](const Notification&) { ++b; });
    center.addObserver(&b, "other", [&](const Notification&) { b += 100; });

    std::thread poster([&] {
        center.post("ev", Value(Array{Value("x")}));
        // Both subscribers ran before post() returned.
        EXPECT_EQ(a, 1);
        EXPECT_EQ(b, 1);
        EXPECT_EQ(seenOn, std::this_thread::get_id());
    });
    poster.join();
}

TEST(NotificationCenter, RemoveObserverEndsAllItsSubscriptions) {
    NotificationCenter center;
    int calls = 0;
    int other = 0;
    center.addObserver(&calls, "one", [&](const Notification&) { ++calls; });
    center.addObserver(&calls, "two", [&](const Notification&) { ++calls; });
    center.addObserver(&other, "one", [&](const Notification&) { ++other; });
    center.removeObserver(&calls);
    center.post("one");
    center.post("two");
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(other, 1);
    EXPECT_EQ(center.observerCount(), 1u);
}

TEST(NotificationCenter, UserInfoArrivesAndHandlersMayPostInTurn) {
    NotificationCenter center;
    std::string seen;
    center.addObserver(&seen, "inner", [&](const Notification& n) {
        seen = *n.userInfo->at("mystrings").get<std::string>();
    });
    center.addObserver(&center, "outer", [&](const Notification&) {
        center.post("inner", std::nullopt, Dictionary{{"mystrings", Value("hello")}});
    });
    center.post("outer");
    EXPECT_EQ(seen, "hello");
}

TEST(NotificationCenter, ManyThreadsPostingAndSubscribing) {
    NotificationCenter center;
    std::atomic<int> delivered{0};
    center.addObserver(&delivered, "ev", [&](const Notification&) { ++delivered; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            int token = t;
            for (int i = 0; i < 500; ++i) {
                center.post("ev");
                center.addObserver(&token, "unused", [](const Notification&) {});
                center.removeObserver(&token);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(delivered.load(), 2000);
}
