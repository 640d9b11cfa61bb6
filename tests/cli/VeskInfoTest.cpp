#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <map>
#include <sstream>

#include "../TestSupport.h"

using vesk::test::ScratchDir;

namespace {

struct Run {
    int status;
    std::string out, err;
};

// Runs vesk-info with `args` (already shell-quoted by the test) in `cwd`. Its
// temporary directory is the scratch folder, so the comment file an image
// report writes goes with it instead of staying in the user's own.
Run runVeskInfo(const std::string& args, const std::string& cwd = ".") {
    ScratchDir io;
    const std::string cmd = "cd '" + cwd + "' && TMPDIR='" + io.path().string() + "' '" VESK_INFO_BIN "' " + args +
                            " >'" + io.file("out") + "' 2>'" + io.file("err") + "'";
    const int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, vesk::test::readFile(io.file("out")),
            vesk::test::readFile(io.file("err"))};
}

}  // namespace

TEST(VeskInfo, AMissingPathIsReportedOnStandardErrorOnly) {
    ScratchDir dir;
    const auto r = runVeskInfo("--json '" + dir.file("nope.jpg") + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "vesk-info: " + dir.file("nope.jpg") + ": No such file or directory\n");
}

TEST(VeskInfo, JsonHoldsExactlyTheKeysWithValuesAndPathsBecomeAbsolute) {
    ScratchDir dir;
    dir.write("lib.dylib", "x");
    const auto r = runVeskInfo("--json lib.dylib", dir.path().string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("{\"path\": \"" + dir.file("lib.dylib") + "\", \"store\": {\"prefCurFilePath\": \"" +
                              dir.file("lib.dylib") + "\", \"prefTextViewString1\": ",
                          0),
              0u)
        << r.out;
    EXPECT_EQ(r.err, "");  // the diagnostic log stays quiet unless asked for
}

TEST(VeskInfo, UsageErrorsHelpAndVersion) {
    EXPECT_EQ(runVeskInfo("").status, 2);
    EXPECT_EQ(runVeskInfo("--bogus x").status, 2);
    const auto help = runVeskInfo("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: vesk-info"), std::string::npos);
    const auto version = runVeskInfo("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("Vesk - v", 0), 0u);
}

TEST(VeskInfo, ManyPathsKeepTheirOrderAndOneMissingSetsStatusOne) {
    ScratchDir dir;
    dir.write("a.dylib", "x");
    dir.write("b.dylib", "x");
    const auto r = runVeskInfo("--json a.dylib missing.jpg b.dylib", dir.path().string());
    EXPECT_EQ(r.status, 1);
    const auto a = r.out.find("a.dylib"), b = r.out.find("b.dylib");
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_NE(r.err.find("missing.jpg: No such file or directory"), std::string::npos);
}

TEST(VeskInfo, ParallelWorkersEachReadBackTheirOwnComment) {
    // Workers share one usercomment.xml; each report must show its own file's comment.
    const std::string fixtures = VESK_FIXTURE_DIR "/image/";
    const std::vector<std::string> names = {"plist-dict.jpg", "words.jpg", "plist-list.jpg", "unicode-le.jpg"};
    std::map<std::string, std::string> alone;
    for (const auto& n : names) alone[n] = runVeskInfo("--json '" + fixtures + n + "'").out;
    std::string args;
    for (int i = 0; i < 25; ++i)
        for (const auto& n : names) args += " '" + fixtures + n + "'";
    const auto r = runVeskInfo("--json" + args);
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    std::size_t i = 0;
    for (; std::getline(lines, line); ++i) EXPECT_EQ(line + "\n", alone[names[i % names.size()]]) << i;
    EXPECT_EQ(i, 100u);
}

// The comment file is one per user: runs side by side take turns with it, so
// neither shows the other's comment.
TEST(VeskInfo, RunsSideBySideNeverShowEachOthersComment) {
    ScratchDir io;
    const std::string fixtures = VESK_FIXTURE_DIR "/image";
    std::string dict, list;
    for (int i = 0; i < 40; ++i) {
        dict += " '" + fixtures + "/plist-dict.jpg'";
        list += " '" + fixtures + "/plist-list.jpg'";
    }
    const std::string run = "TMPDIR='" + io.path().string() + "' '" VESK_INFO_BIN "' --json";
    const std::string cmd = run + dict + " >'" + io.file("dict") + "' & " + run + list + " >'" + io.file("list") +
                            "' & wait";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    for (const char* name : {"dict", "list"}) {
        SCOPED_TRACE(name);
        std::istringstream lines(vesk::test::readFile(io.file(name)));
        std::string first, line;
        ASSERT_TRUE(std::getline(lines, first));
        EXPECT_NE(first.find("prefTextViewString3"), std::string::npos);
        int count = 1;
        for (; std::getline(lines, line); ++count) EXPECT_EQ(line, first);
        EXPECT_EQ(count, 40);
    }
}
