// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "RunnerSupport.h"
#include "inspector/InfoKeys.h"
#include "inspector/ViewController.h"
#include "platform/Log.h"

using namespace vesk;
using namespace vesk::platform;
using namespace vesk::test;

namespace {

using Calls = std::vector<std::vector<std::string>>;

// The inspector with its open tool replaced by one that records its arguments.
class Reveal : public ::testing::Test {
protected:
    void SetUp() override {
        inspector = std::make_shared<ViewController>(t.services());
        inspector->setOpenToolPath(writeRecordingTool(tools, "open-tool", record));
    }
    // The calls the recording opener saw, once `reveals` reveals have ended.
    Calls calls(std::size_t reveals = 1) const {
        EXPECT_TRUE(waitForReveals(log, reveals));
        return readRecord(record);
    }
    std::string folder(const std::string& name) const {
        const auto path = dir.path() / name;
        std::filesystem::create_directories(path);
        return path.string();
    }

    ScratchDir tools, dir;
    const std::string record = tools.file("record");
    std::shared_ptr<MemoryUserDefaults> store = std::make_shared<MemoryUserDefaults>();
    test::TestServices t{store};
    NotificationCenter& center = t.center;
    std::shared_ptr<ViewController> inspector;
    platform::CaptureLogSink& log = t.logSink;
};

}  // namespace

TEST(RevealTool, IsTheDesktopOpenerNeverDebiansOpenvt) {
#if defined(__APPLE__)
    EXPECT_EQ(ViewController::defaultOpenToolPath(), "/usr/bin/open");
#else
    EXPECT_EQ(ViewController::defaultOpenToolPath(), "/usr/bin/xdg-open");
#endif
}

TEST_F(Reveal, AnExistingFileRevealsTheFolderHoldingIt) {
    const auto photos = folder("photos");
    inspector->ibRevealInFinder(dir.write("photos/a.jpg", "x"));
    EXPECT_EQ(calls(), (Calls{{photos}}));
    EXPECT_EQ(log.lines(), std::vector<std::string>{"returnstring = recorded\n"});
}

TEST_F(Reveal, AFolderRevealsItself) {
    const auto bundle = folder("Plugin.bundle");
    inspector->ibRevealInFinder(bundle);
    EXPECT_EQ(calls(), (Calls{{bundle}}));
}

TEST_F(Reveal, AVanishedFileStillRevealsItsFolder) {
    const auto photos = folder("photos");
    const auto gone = dir.write("photos/gone.jpg", "x");
    std::filesystem::remove(gone);
    inspector->ibRevealInFinder(gone);
    EXPECT_EQ(calls(), (Calls{{photos}}));
}

TEST_F(Reveal, NothingRunsAndNothingIsLoggedWithoutAnExistingFolder) {
    const auto plain = dir.write("plain.txt", "x");
    for (const std::string& path : {dir.file("no/such/file.jpg"), plain + "/below-a-file", std::string(),
                                    std::string("relative-name.jpg")}) {
        SCOPED_TRACE(path);
        inspector->ibRevealInFinder(path);
    }
    EXPECT_FALSE(std::filesystem::exists(record));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(Reveal, AHostileFolderNameReachesTheToolAsOneArgument) {
    const auto hostile = folder("a b \"dq\" 'sq' $(touch injected) `touch injected`; touch injected *");
    const auto file = hostile + "/photo.jpg";
    dir.write(std::filesystem::path(file).lexically_relative(dir.path()).string(), "x");
    inspector->ibRevealInFinder(file);
    ASSERT_TRUE(waitForReveals(log, 1));
    inspector->ibRevealInFinder(hostile);
    EXPECT_EQ(calls(2), (Calls{{hostile}, {hostile}}));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "injected"));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::current_path() / "injected"));
}

TEST_F(Reveal, ALeadingTildeIsTheHomeFolder) {
    const auto desktop = folder("Desktop");
    {
        vesk::test::ScopedEnv home("HOME", dir.path().string());
        inspector->ibRevealInFinder("~/Desktop/testexif.jpg");
        ASSERT_TRUE(waitForReveals(log, 1));
        inspector->ibRevealInFinder("~");
    }
    EXPECT_EQ(calls(2), (Calls{{desktop}, {dir.path().string()}}));
}

TEST_F(Reveal, ASilentToolLogsNull) {
    inspector->setOpenToolPath(writeTool(tools, "quiet", "exit 3\n"));
    inspector->ibRevealInFinder(folder("f"));
    ASSERT_TRUE(waitForReveals(log));
    EXPECT_EQ(log.lines(), std::vector<std::string>{"returnstring = (null)"});
}

TEST_F(Reveal, AMissingToolIsOnlyLogged) {
    inspector->setOpenToolPath(tools.file("no-such-opener"));
    inspector->ibRevealInFinder(folder("f"));
    ASSERT_TRUE(waitForReveals(log));
    EXPECT_EQ(log.lines(), std::vector<std::string>{"returnstring = (null)"});
    EXPECT_TRUE(waitForNoChildren());
}

TEST_F(Reveal, ADoubleClickRevealsTheFolderOfTheFileOnShow) {
    const auto photos = folder("photos");
    store->set(prefCurFilePath, dir.write("photos/on show.jpg", "x"));
    MyDoubleClickButton button(t.log);
    inspector->ibHandleDoubleClick(&button);
    EXPECT_EQ(calls(), (Calls{{photos}}));
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(log.lines()[0], inspector->description() + "->ibHandleDoubleClick:...sender=" + button.description());
    EXPECT_EQ(log.lines()[1], "returnstring = recorded\n");
}

TEST_F(Reveal, ADoubleClickWithNothingOnShowOnlyLogs) {
    inspector->ibHandleDoubleClick(nullptr);
    EXPECT_FALSE(std::filesystem::exists(record));
    EXPECT_EQ(log.lines(), std::vector<std::string>{inspector->description() + "->ibHandleDoubleClick:...sender=(null)"});
}

TEST_F(Reveal, ABundleOnShowRevealsTheBundleItself) {
    const auto bundle = folder("Thing.bundle");
    inspector->viewDidLoad();
    center.post(kAddFromFileNotification, Value(Array{Value(bundle)}));
    ASSERT_EQ(store->get(prefCurFilePath), bundle);
    inspector->ibHandleDoubleClick(nullptr);
    EXPECT_EQ(calls(), (Calls{{bundle}}));
}

// An opener that stays in the foreground (xdg-open waiting for the file
// manager it started, 5 s here) holds up neither the caller nor any queue;
// its result is logged when it ends.
TEST_F(Reveal, AnOpenerThatStaysInTheForegroundHoldsUpNothingAndIsLoggedWhenItEnds) {
    const std::string started = tools.file("started");
    inspector->setOpenToolPath(
        writeTool(tools, "slow-opener", "touch " + quoted(started) + "\nsleep 5\nprintf 'opened %s\\n' \"$1\"\n"));
    const auto photos = folder("photos");
    const auto start = std::chrono::steady_clock::now();
    inspector->ibRevealInFinder(photos);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_TRUE(log.lines().empty());

    // The global queue still serves while the opener runs.
    std::atomic<bool> served{false};
    t.globalQueue.async([&] { served = true; });
    t.globalQueue.waitIdle();
    EXPECT_TRUE(served);

    ASSERT_TRUE(waitForReveals(log));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4900));
    EXPECT_TRUE(std::filesystem::exists(started));
    EXPECT_EQ(log.lines(), std::vector<std::string>{"returnstring = opened " + photos + "\n"});
    EXPECT_TRUE(waitForNoChildren());
}

TEST_F(Reveal, TwoRevealsRunSideBySide) {
    inspector->setOpenToolPath(writeTool(tools, "slow-opener", "sleep 1\nprintf 'done\\n'\n"));
    const auto start = std::chrono::steady_clock::now();
    inspector->ibRevealInFinder(folder("a"));
    inspector->ibRevealInFinder(folder("b"));
    ASSERT_TRUE(waitForReveals(log, 2));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"returnstring = done\n", "returnstring = done\n"}));
    EXPECT_TRUE(waitForNoChildren());
}

TEST_F(Reveal, AnOpenerThatEndsAfterTheInspectorHasGoneLogsNothing) {
    const std::string ended = tools.file("ended");
    inspector->setOpenToolPath(writeTool(tools, "slow-opener", "sleep 1\nprintf 'late\\n'\ntouch " + quoted(ended) + "\n"));
    inspector->ibRevealInFinder(folder("f"));
    const std::string dealloc = inspector->description() + "->dealloc...";
    inspector.reset();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::filesystem::exists(ended) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(std::filesystem::exists(ended));
    EXPECT_TRUE(waitForNoChildren());
    // The thread that waited for the opener has had its turn.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(log.lines(), std::vector<std::string>{dealloc});
}
