// SPDX-License-Identifier: GPL-3.0-or-later
// Reports routed on background threads (as from the Open dialog) write the
// store while the main thread reads it and other threads post events. Run
// under ThreadSanitizer by CI.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "../TestSupport.h"
#include "inspector/InfoKeys.h"
#include "inspector/ViewController.h"
#include "platform/Log.h"

using namespace vesk;
using namespace vesk::platform;

TEST(Concurrency, BackgroundReportsWriteTheStoreWhileTheMainThreadReadsIt) {
    test::ScratchDir dir;
    std::filesystem::create_directories(dir.path() / "x.bundle");
    const std::string bundle = (dir.path() / "x.bundle").string();
    const std::string other = dir.write("y.bundle", "a plain file");
    auto store = std::make_shared<MemoryUserDefaults>();
    std::atomic<int> changes{0};
    store->addObserver([&](const std::string&, const std::optional<std::string>&) { ++changes; });
    test::TestServices services(store);
    NotificationCenter& center = services.center;
    auto inspector = std::make_shared<ViewController>(services.services());
    inspector->viewDidLoad();

    std::atomic<bool> done{false};
    std::vector<std::thread> posters;
    for (int t = 0; t < 3; ++t)
        posters.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i)
                center.post(kAddFromFileNotification, Value(Array{Value((i + t) % 2 ? bundle : other)}));
        });
    std::size_t reads = 0;
    // At least one read, however fast the posters finish.
    std::thread reader([&] {
        do {
            const auto path = store->get(prefCurFilePath);
            if (path) {
                EXPECT_TRUE(*path == bundle || *path == other);
            }
            (void)store->snapshot();
            ++reads;
        } while (!done);
    });
    for (auto& t : posters) t.join();
    done = true;
    reader.join();
    EXPECT_GT(reads, 0u);
    // Each report: seven removals at most, the path, the empty and the final field.
    EXPECT_GT(changes.load(), 600 * 3);
    const auto path = store->get(prefCurFilePath);
    ASSERT_TRUE(path);
    EXPECT_EQ(store->get(prefTextViewString1), "");  // neither is a bundle with an executable
}

TEST(Concurrency, DroppingTheLastOwnerWhileReportsRunOnOtherThreadsIsSafe) {
    test::ScratchDir dir;
    const std::string bundle = dir.write("y.bundle", "a plain file");
    test::TestServices services;
    for (int round = 0; round < 20; ++round) {
        auto inspector = std::make_shared<ViewController>(services.services());
        inspector->viewDidLoad();
        std::atomic<bool> started{false};
        std::vector<std::thread> posters;
        for (int t = 0; t < 2; ++t)
            posters.emplace_back([&] {
                for (int i = 0; i < 50; ++i) {
                    services.center.post(kAddFromFileNotification, Value(Array{Value(bundle)}));
                    started = true;
                }
            });
        while (!started) std::this_thread::yield();
        // The controller may now go on whichever thread holds it last.
        inspector.reset();
        for (auto& t : posters) t.join();
        EXPECT_EQ(services.center.observerCount(), 0u);
    }
}
