// SPDX-License-Identifier: GPL-3.0-or-later
// Many reports in a row must leave memory, descriptors and threads where they
// started: the window stays open for days.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "../TestSupport.h"
#include "inspector/InfoKeys.h"
#include "inspector/ViewController.h"
#include "platform/Log.h"

using namespace vesk;
namespace fs = std::filesystem;

namespace {

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

std::size_t entries(const char* dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}));
}

}  // namespace

TEST(ReportLoop, TenThousandReportsLeaveMemoryDescriptorsAndThreadsAsTheyWere) {
    test::ScratchDir tmp;
    test::ScopedEnv tmpdir("TMPDIR", tmp.path().string());
    auto store = std::make_shared<platform::MemoryUserDefaults>();
    // Kept lines would grow the process; this loop measures the reports alone.
    platform::DiscardLogSink quiet;
    platform::NotificationCenter center;
    platform::DrainedQueue mainQueue;
    const platform::FileTypeService types;
    const platform::Services services{store, center, mainQueue, mainQueue, types, platform::Log(quiet)};
    auto inspector = std::make_shared<ViewController>(services);
    inspector->viewDidLoad();

    const std::string samples = std::string(VESK_SOURCE_DIR) + "/samples/";
    const std::vector<std::string> files = {samples + "Fujifilm_FinePix_E500.jpg", samples + "Nikon_COOLPIX_P1.jpg",
                                            samples + "Canon_DIGITAL_IXUS_400.jpg", samples + "README.md",
                                            samples + "Apple_iPhone_11_Pro_Max.heic",
                                            tmp.path().string()};
    auto round = [&](int n) {
        for (int i = 0; i < n; ++i) {
            center.post(platform::kAddFromFileNotification, platform::Value(platform::Array{files[i % files.size()]}));
            mainQueue.drain();
        }
    };
    round(500);  // warm up: caches, allocator pools
    const long rss = residentKiB();
    const std::size_t fds = entries("/proc/self/fd"), threads = entries("/proc/self/task");
    round(10000);
    EXPECT_EQ(entries("/proc/self/fd"), fds);
    EXPECT_EQ(entries("/proc/self/task"), threads);
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer holds freed memory back on purpose; LeakSanitizer
    // checks for leaks at exit instead.
    (void)rss;
#else
    EXPECT_LT(residentKiB() - rss, 4096) << "grew from " << rss << " KiB";
#endif
    // Each round starts again at the first file.
    EXPECT_EQ(store->get(prefCurFilePath), files[(10000 - 1) % files.size()]);
}
