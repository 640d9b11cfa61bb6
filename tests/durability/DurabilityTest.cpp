// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "../TestSupport.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"

extern char** environ;

using namespace vesk::platform;

// Saves are atomic renames left to the kernel to write out: a killed writer
// must never leave a half store, nor half a batch. (Surviving a power loss is
// synchronize()'s part, which a kill cannot show.)
TEST(DefaultsDurability, AKillDuringAWriteLeavesTheOldOrTheNewStoreNeverAHalfOne) {
    vesk::test::ScratchDir dir;
    const std::string path = dir.file("defaults.plist");
    {
        DiscardLogSink quiet;
        const Log log(quiet);
        FileUserDefaults seed(path, log);
        seed.set("value", "first");
    }
    std::mt19937 random(12345);
    // Once the writer is writing, it replaces the file every few hundred
    // microseconds; a kill within 3 ms lands anywhere in a write.
    std::uniform_int_distribution<int> delay(0, 3000);
    const auto inode = [&] {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    };
    const std::string a(64 * 1024, 'a'), b(64 * 1024, 'b');
    int sawNew = 0;
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        pid_t pid = 0;
        char* argv[] = {const_cast<char*>(DEFAULTS_WRITER), const_cast<char*>(path.c_str()), nullptr};
        const auto before = inode();
        ASSERT_EQ(::posix_spawn(&pid, DEFAULTS_WRITER, nullptr, nullptr, argv, environ), 0);
        // Wait for its first write, however slowly the machine starts it.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (inode() == before && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);

        auto root = parsePropertyList(vesk::test::readFile(path));
        ASSERT_TRUE(root && root->is<Dictionary>());
        const Dictionary& dict = *root->get<Dictionary>();
        const auto* value = dict.at("value").get<std::string>();
        ASSERT_TRUE(value);
        EXPECT_TRUE(*value == "first" || *value == a || *value == b) << value->size();
        // A batch lands whole: the parity belongs to the value beside it.
        const auto parity = dict.find("parity");
        if (*value == "first") {
            EXPECT_EQ(parity, dict.end());
        } else {
            ASSERT_NE(parity, dict.end());
            EXPECT_EQ(parity->second, Value(*value == a ? "odd" : "even"));
        }
        sawNew += *value != "first";
    }
    EXPECT_EQ(sawNew, 200);  // from the first round on, the store holds a written value
    // Temporary files of killed writers may remain; the store itself is whole.
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_TRUE(e.path().filename() == "defaults.plist" ||
                    e.path().filename().string().rfind(".vesk-write-", 0) == 0)
            << e.path();
}
