// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "RunnerSupport.h"
#include "platform/Process.h"

using namespace vesk;
using platform::runCommand;
using namespace vesk::test;
using namespace std::chrono_literals;

namespace {

constexpr std::size_t kCap = 512000;

// Output with exact bytes: cat prints a file the test wrote.
class RunnerOutput : public ::testing::Test {
protected:
    std::optional<std::string> outputOf(const std::string& bytes) {
        return runCommand({"/bin/cat", dir.write("out-" + std::to_string(++n), bytes)});
    }
    ScratchDir dir;
    int n = 0;
};

}  // namespace

TEST_F(RunnerOutput, TextComesBackWholeWithItsTrailingLineFeed) {
    EXPECT_EQ(runCommand({"/usr/bin/printf", "h\xC3\xA9llo\\n"}), "h\xC3\xA9llo\n");
    EXPECT_EQ(outputOf("line 1\nline 2\n"), "line 1\nline 2\n");
}

TEST_F(RunnerOutput, NoOutputIsNothingButALeadingZeroByteIsTheEmptyText) {
    EXPECT_EQ(runCommand({"/bin/true"}), std::nullopt);
    EXPECT_EQ(outputOf(""), std::nullopt);
    EXPECT_EQ(outputOf(std::string("\0rest", 5)), std::string());
}

TEST_F(RunnerOutput, TextEndsAtTheFirstZeroByte) {
    EXPECT_EQ(outputOf(std::string("before\0after", 12)), "before");
    // What follows the zero byte is not decoded, valid or not.
    EXPECT_EQ(outputOf(std::string("ok\0\xFF\xFE", 5)), "ok");
}

TEST_F(RunnerOutput, BytesThatAreNotStrictUtf8YieldNothing) {
    for (const std::string bad : {"\xFF", "caf\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                                  "\x80 lone continuation", "\xF8\x88\x80\x80\x80"}) {
        SCOPED_TRACE(::testing::PrintToString(bad));
        EXPECT_EQ(outputOf("text " + bad + " more"), std::nullopt);
    }
}

TEST_F(RunnerOutput, ExactlyTheCapComesBackWhole) {
    const std::string bytes(kCap, 'a');
    const auto text = outputOf(bytes);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, bytes);
}

TEST_F(RunnerOutput, LongerOutputIsCutToTheCap) {
    std::string bytes;
    for (int i = 0; bytes.size() < 600 * 1024; ++i) bytes += "line " + std::to_string(i) + "\n";
    const auto text = outputOf(bytes);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, bytes.substr(0, kCap));
}

TEST_F(RunnerOutput, ACharacterCutByTheCapMakesTheWholeOutputNothing) {
    // "é" takes the cap's last byte and the first unread one.
    EXPECT_EQ(outputOf(std::string(kCap - 1, 'a') + "\xC3\xA9" + "tail"), std::nullopt);
    // Ending exactly on the cap is fine.
    const auto whole = std::string(kCap - 2, 'a') + "\xC3\xA9";
    EXPECT_EQ(outputOf(whole + "tail"), whole);
}

TEST_F(RunnerOutput, StandardErrorNeverReachesTheCaller) {
    const auto tool = writeTool(dir, "complain", "echo 'runner test: this line is expected on stderr' >&2\nexit 1\n");
    EXPECT_EQ(runCommand({tool}), std::nullopt);
    const auto both = writeTool(dir, "both", "echo out\necho 'runner test: expected stderr' >&2\n");
    EXPECT_EQ(runCommand({both}), "out\n");
}

TEST_F(RunnerOutput, AToolThatEndsAtOnceYieldsNothingAndIsWaitedFor) {
    const auto tool = writeTool(dir, "quit", "exit 7\n");
    EXPECT_EQ(runCommand({tool}), std::nullopt);
    EXPECT_TRUE(hasNoChildren());
    // Killed by a signal before writing: the same.
    const auto killed = writeTool(dir, "killed", "kill -9 $$\n");
    EXPECT_EQ(runCommand({killed}), std::nullopt);
    EXPECT_TRUE(hasNoChildren());
}

// Starting the tool.

TEST(RunnerStart, AToolThatCannotBeStartedYieldsNothingAndLeavesNoChild) {
    ScratchDir dir;
    const auto plain = dir.write("not-executable", "#!/bin/sh\necho ran\n");
    const auto noInterpreter = dir.write("bad-interpreter", "#!/nonexistent/sh\necho ran\n");
    ::chmod(noInterpreter.c_str(), 0755);
    for (const std::string& tool : {dir.file("missing"), plain, dir.path().string(), noInterpreter}) {
        SCOPED_TRACE(tool);
        EXPECT_EQ(runCommand({tool, "arg"}), std::nullopt);
        EXPECT_TRUE(hasNoChildren());
    }
}

TEST(RunnerStart, OnlyAnAbsoluteToolPathIsStarted) {
    ScratchDir dir;
    const auto marker = dir.file("ran");
    writeTool(dir, "tool", "touch " + quoted(marker) + "\necho ran\n");
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    EXPECT_EQ(runCommand({"tool"}), std::nullopt);
    EXPECT_EQ(runCommand({"./tool"}), std::nullopt);
    std::filesystem::current_path(cwd);
    EXPECT_EQ(runCommand({}), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST(RunnerStart, AnArgumentHoldingAZeroByteIsRefusedRatherThanCut) {
    ScratchDir dir;
    const auto record = dir.file("record");
    const auto tool = writeRecordingTool(dir, "rec", record);
    EXPECT_EQ(runCommand({tool, std::string("/etc/passwd\0.dylib", 18)}), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(record));
}

// Arguments reach the tool as they are.

TEST(RunnerArguments, EachArgumentArrivesAsOneUnchangedArgumentAndNothingElseRuns) {
    ScratchDir dir;
    const auto record = dir.file("record");
    const auto marker = dir.file("injected");
    const auto tool = writeRecordingTool(dir, "rec", record);
    const std::vector<std::string> hostile{
        "/tmp/with some  blanks.dylib",
        "/tmp/double\"quote.dylib",
        "/tmp/single'quote.dylib",
        "/tmp/$(touch " + marker + ").dylib",
        "/tmp/`touch " + marker + "`.dylib",
        "/tmp/x; touch " + marker + "; .dylib",
        "/tmp/x' ; touch '" + marker,
        "/tmp/x\" ; touch \"" + marker,
        "/tmp/*",
        "~/lib.dylib",
        "~",
        "/tmp/line\nbreak; touch " + marker,
        "/tmp/in\xFFvalid\xC0\xAF.dylib",
        "/tmp/back\\slash\\n.dylib",
        "/tmp/$HOME/${PATH}/%s%n.dylib",
        "/tmp/a | touch " + marker + " & > " + marker,
        "",
    };
    for (const auto& arg : hostile) {
        SCOPED_TRACE(::testing::PrintToString(arg));
        std::filesystem::remove(record);
        EXPECT_EQ(runCommand({tool, arg}), "recorded\n");
        EXPECT_EQ(readRecord(record), (std::vector<std::vector<std::string>>{{arg}}));
    }
    EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST(RunnerArguments, SeveralArgumentsKeepTheirOrder) {
    ScratchDir dir;
    const auto record = dir.file("record");
    const auto tool = writeRecordingTool(dir, "rec", record);
    runCommand({tool, "one", "two words", "", "-n"});
    EXPECT_EQ(readRecord(record), (std::vector<std::vector<std::string>>{{"one", "two words", "", "-n"}}));
}

TEST(RunnerArguments, TheToolPathItselfIsNeverInterpreted) {
    ScratchDir dir;
    const auto marker = dir.file("injected");
    const auto tool = writeTool(dir, "my tool; touch injected $(touch injected)", "echo fine\n");
    EXPECT_EQ(runCommand({tool}), "fine\n");
    EXPECT_FALSE(std::filesystem::exists(marker));
}

// Tools that do not stop writing.

TEST(RunnerEndlessWriter, YesIsCutAtTheCapAndEnded) {
    const auto text = runCommand({"/usr/bin/yes"});
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size(), kCap);
    EXPECT_EQ(text->substr(0, 6), "y\ny\ny\n");
    EXPECT_TRUE(hasNoChildren());
}

TEST(RunnerEndlessWriter, EndsEvenWhenThisProcessIgnoresAndBlocksSigpipe) {
    // A shell loop keeps going after a failed write; only SIGPIPE ends it, so
    // the tool must get default handling whatever the caller has set.
    ScratchDir dir;
    const auto pidFile = dir.file("pid");
    const auto tool = writeTool(dir, "loop",
                                "echo $$ > " + quoted(pidFile) +
                                    "\nchunk=$(head -c 65536 /dev/zero | tr '\\000' x)\n"
                                    "while :; do printf '%s' \"$chunk\" 2>/dev/null; done\n");
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);

    auto result = std::async(std::launch::async, [&] {
        sigset_t pipeOnly;
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &pipeOnly, nullptr);
        return runCommand({tool});
    });
    const bool ended = result.wait_for(60s) == std::future_status::ready;
    if (!ended) ::kill(std::stoi(readFile(pidFile)), SIGKILL);  // do not leave the test hanging
    const auto text = result.get();
    ::sigaction(SIGPIPE, &previous, nullptr);
    ASSERT_TRUE(ended) << "the writer kept running after the runner stopped reading";
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size(), kCap);
}

TEST(RunnerBackgroundChild, AProgramTheToolLeftRunningDoesNotHoldTheCaller) {
    // Like xdg-open starting a file manager that keeps the tool's output open.
    ScratchDir dir;
    const auto pidFile = dir.file("pid");
    const auto tool = writeTool(dir, "launcher",
                                "sleep 60 &\necho $! > " + quoted(pidFile) + "\nprintf 'launched\\n'\nexit 0\n");
    const auto start = std::chrono::steady_clock::now();
    const auto text = runCommand({tool});
    const auto took = std::chrono::steady_clock::now() - start;
    ::kill(std::stoi(readFile(pidFile)), SIGKILL);
    EXPECT_EQ(text, "launched\n");
    EXPECT_LT(took, 30s);
    EXPECT_TRUE(hasNoChildren());
}

// Nothing is left behind.

// A leak of one descriptor or one child per run shows after a single run;
// a few hundred runs, one in ten of a tool that cannot start, cover both
// ways out of the runner.
TEST(RunnerResources, ThreeHundredRunsLeaveNoZombieAndNoDescriptor) {
    const std::vector<int> before = openDescriptors();
    int good = 0;
    for (int i = 0; i < 300; ++i) {
        const auto tool = i % 10 == 9 ? std::string("/nonexistent/tool") : std::string("/usr/bin/printf");
        if (runCommand({tool, "x"}) == "x") ++good;
    }
    EXPECT_EQ(good, 270);
    // The same descriptors, not merely as many.
    EXPECT_EQ(openDescriptors(), before);
    // No child at all, so no zombie: every run reaped its own.
    int status = 0;
    errno = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(RunnerResources, ConcurrentCallsNeitherMixOutputNorLeakPipesIntoOtherChildren) {
    ScratchDir dir;
    // The tool lists the descriptors it was started with.
    const auto lister = writeTool(dir, "fds", "exec /bin/ls /proc/self/fd\n");
    const auto alone = runCommand({lister});
    ASSERT_TRUE(alone);

    std::atomic<int> mixed{0}, leaked{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i) {
                if (t % 2 == 0) {
                    const std::string word = "thread" + std::to_string(t) + "-" + std::to_string(i);
                    if (runCommand({"/usr/bin/printf", word}) != word) ++mixed;
                } else if (runCommand({lister}) != alone) {
                    ++leaked;
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mixed, 0);
    EXPECT_EQ(leaked, 0);
    EXPECT_TRUE(hasNoChildren());
}
