// SPDX-License-Identifier: GPL-3.0-or-later
// vesk-info over folders: the walk, the stream through worker threads, the
// progress line and the JSON "path" contract, each through the built program.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "../TestSupport.h"

using vesk::test::ScratchDir;
namespace fs = std::filesystem;

namespace {

struct Run {
    int status;
    std::string out, err;
};

// `command` is a shell line in which VESK stands for the program; runs it in
// `cwd` with the scratch folder as TMPDIR and returns what it wrote.
Run run(const std::string& command, const std::string& cwd) {
    ScratchDir io;
    std::string line = command;
    for (std::size_t at; (at = line.find("VESK")) != std::string::npos;)
        line.replace(at, 4, "'" VESK_INFO_BIN "'");
    const std::string cmd = "cd '" + cwd + "' && export TMPDIR='" + io.path().string() + "' && ( timeout 120 " + line +
                            " ) >'" + io.file("out") + "' 2>'" + io.file("err") + "'";
    const int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, vesk::test::readFile(io.file("out")),
            vesk::test::readFile(io.file("err"))};
}

std::vector<nlohmann::json> jsonLines(const std::string& out) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
}

std::vector<std::string> pathsOf(const std::string& out) {
    std::vector<std::string> paths;
    for (const auto& j : jsonLines(out)) paths.push_back(j.at("path").get<std::string>());
    return paths;
}

void link(const std::string& from, const std::string& to) {
    fs::create_directories(fs::path(to).parent_path());
    fs::copy_file(from, to);
}

const std::string kPhoto = VESK_FIXTURE_DIR "/image/words.jpg";

}  // namespace

TEST(VeskInfoWalk, TakesTheFilesVeskReadsInSortedOrderAndSaysEachProblemOnce) {
    ScratchDir dir;
    const std::string t = dir.file("tree");
    for (const char* name : {"b.jpg", "A.jpg", "sub/c.tif", "sub/deeper/d.jpg", "Plug.bundle/inside.jpg",
                             ".hidden.jpg", ".secret/e.jpg", "Tool.app/f.jpg"})
        link(kPhoto, t + "/" + name);
    link(kPhoto, t + "/noextension");  // a JPEG by its first bytes
    dir.write("tree/lib.dylib", "x");
    dir.write("tree/notes.txt", "not for Vesk");
    dir.write("tree/data.bin", "neither by name nor by content");
    fs::create_directory_symlink("..", t + "/sub/up");
    fs::create_symlink("missing.jpg", t + "/dangling.jpg");
    fs::create_symlink("self.jpg", t + "/self.jpg");

    const std::string loop = "vesk-info: tree/sub/up: symbolic link back into a folder above it, not followed\n";
    const std::string selfLoop = "vesk-info: tree/self.jpg: Too many levels of symbolic links\n";
    struct Case {
        const char* what;
        std::string args;
        std::vector<std::string> paths;
        std::string err;
        int status;
    };
    const std::vector<std::string> visible = {"tree/A.jpg",     "tree/Plug.bundle", "tree/Tool.app",
                                              "tree/b.jpg",     "tree/lib.dylib",   "tree/noextension",
                                              "tree/sub/c.tif", "tree/sub/deeper/d.jpg"};
    std::vector<std::string> all = {"tree/.hidden.jpg", "tree/.secret/e.jpg"};
    all.insert(all.end(), visible.begin(), visible.end());
    // Tool.app is a bundle kind: one item for the bundle report, not walked.
    // A link loop is said but inspects every file once: the status stays 0.
    const std::string walked = selfLoop + loop;
    const std::vector<Case> cases = {
        {"walk", "-r --fields --json tree", visible, walked, 0},
        {"long option, trailing slash", "--recursive --fields --json tree/", visible, walked, 0},
        {"hidden", "-r --hidden --fields --json tree", all, walked, 0},
        {"files beside folders, in the order given", "-r --fields --json tree/sub tree/b.jpg",
         {"tree/sub/c.tif", "tree/sub/deeper/d.jpg", "tree/b.jpg"}, loop, 0},
        {"extensions, letter case aside", "-r --ext TIF --ext .dylib --fields --json tree",
         {"tree/lib.dylib", "tree/sub/c.tif"}, walked, 0},
        {"quiet: the notes are not said", "-r -q --fields --json tree", visible, "", 0},
        {"a hidden folder given is walked", "-r --fields --json tree/.secret", {"tree/.secret/e.jpg"}, "", 0},
        {"properties", "-r --properties tree/sub", {"tree/sub/c.tif", "tree/sub/deeper/d.jpg"}, loop, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto r = run("VESK " + c.args, dir.path().string());
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(pathsOf(r.out), c.paths);
        EXPECT_EQ(r.err, c.err);
    }
    // The store keeps the absolute path, as the window gives it.
    const auto r = run("VESK -r --fields --json tree/sub/deeper", dir.path().string());
    ASSERT_EQ(jsonLines(r.out).size(), 1u);
    EXPECT_EQ(jsonLines(r.out)[0]["store"]["prefCurFilePath"], dir.file("tree/sub/deeper/d.jpg"));
}

TEST(VeskInfoWalk, AFolderWithoutRecursiveIsAnErrorThatSaysSo) {
    ScratchDir dir;
    link(kPhoto, dir.file("photos/a.jpg"));
    const auto r = run("VESK --fields --json photos", dir.path().string());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vesk-info: photos: Is a directory (-r walks folders)\n");
    EXPECT_EQ(pathsOf(r.out), std::vector<std::string>{"photos"});  // the report, empty, as before
}

// A folder that cannot be read is said once, the rest is walked, status 1.
TEST(VeskInfoWalk, AnUnreadableFolderIsSaidOnceAndTheWalkGoesOn) {
    ScratchDir dir;
    ::chmod(dir.path().c_str(), 0755);
    link(kPhoto, dir.file("t/a/1.jpg"));
    link(kPhoto, dir.file("t/b/2.jpg"));
    link(kPhoto, dir.file("t/c/3.jpg"));
    ::chmod(dir.file("t").c_str(), 0755);
    for (const char* sub : {"t/a", "t/c"}) ::chmod(dir.file(sub).c_str(), 0755);
    ::chmod(dir.file("t/b").c_str(), 0);
    // Root reads every folder: the walk runs as nobody instead.
    const std::string as = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const auto r = run(as + "VESK -r --fields --json t", dir.path().string());
    ::chmod(dir.file("t/b").c_str(), 0755);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vesk-info: t/b: Permission denied (folder not walked)\n");
    EXPECT_EQ(pathsOf(r.out), (std::vector<std::string>{"t/a/1.jpg", "t/c/3.jpg"}));
}

// Names that are not UTF-8 print U+FFFD in "path"; their bytes tell them apart.
TEST(VeskInfoWalk, NamesThatAreNoUtf8KeepTheirBytes) {
    ScratchDir dir;
    const std::vector<std::string> names = {"n\xFE.jpg", "n\xFF.jpg", "caf\xC3\xA9.jpg"};
    for (const auto& n : names) link(kPhoto, dir.file("t/" + n));
    for (const std::string mode : {"--fields --json", "--properties"}) {
        SCOPED_TRACE(mode);
        const auto r = run("VESK -r " + mode + " t", dir.path().string());
        ASSERT_EQ(r.status, 0) << r.err;
        const auto lines = jsonLines(r.out);
        ASSERT_EQ(lines.size(), 3u);
        // Sorted bytewise: "caf\xC3" before "n\xFE" before "n\xFF".
        EXPECT_EQ(lines[0]["path"], "t/caf\xC3\xA9.jpg");
        EXPECT_FALSE(lines[0].contains("pathBytes"));  // valid UTF-8 prints as before
        EXPECT_EQ(lines[1]["path"], "t/n\xEF\xBF\xBD.jpg");
        EXPECT_EQ(lines[1]["pathBytes"], "dC9u/i5qcGc=");  // base64 of "t/n\xFE.jpg"
        EXPECT_EQ(lines[2]["pathBytes"], "dC9u/y5qcGc=");
        EXPECT_NE(r.out.substr(0, r.out.find('\n')), r.out.substr(r.out.find('\n') + 1));
    }
}

// Many files through the workers and the reorder window: every report in
// input order and equal to the file's report alone.
TEST(VeskInfoWalk, ManyFilesStreamInOrderWithTheirOwnReports) {
    ScratchDir dir;
    const std::vector<std::string> kinds = {"plist-dict.jpg", "words.jpg", "camera.tif", "plist-list.jpg"};
    std::vector<std::string> expected;
    for (int i = 0; i < 1200; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "t/%02d/%04d.%s", i / 100, i, i % 4 == 2 ? "tif" : "jpg");
        fs::create_directories(fs::path(dir.file(name)).parent_path());
        fs::create_hard_link(VESK_FIXTURE_DIR "/image/" + kinds[i % 4], dir.file(name));
        expected.push_back(name);
    }
    const auto r = run("VESK -r --fields --json t", dir.path().string());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = jsonLines(r.out);
    ASSERT_EQ(lines.size(), expected.size());
    std::vector<nlohmann::json> alone;
    for (int k = 0; k < 4; ++k) alone.push_back(jsonLines(run("VESK --fields --json " + expected[k], dir.path().string()).out)[0]);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_EQ(lines[i]["path"], expected[i]) << i;
        // The stores differ only in the path they name.
        auto store = lines[i]["store"], own = alone[i % 4]["store"];
        store.erase("prefCurFilePath");
        own.erase("prefCurFilePath");
        ASSERT_EQ(store, own) << i;
    }
}

// On a terminal a run that lasts over a second shows the progress line on
// standard error; into a pipe it shows none unless asked. Output held up by
// a slow reader makes the run last.
TEST(VeskInfoProgress, ShownOnATerminalNeverInAPipeOrOnStandardOutput) {
    ScratchDir dir;
    for (int i = 0; i < 400; ++i) link(kPhoto, dir.file("t/" + std::to_string(1000 + i) + ".jpg"));
    const std::string slowReader = " | (sleep 2; cat)";
    struct Case {
        const char* what;
        std::string command;
        bool shown;
    };
    const std::vector<Case> cases = {
        {"terminal", "script -qec \"VESK -r --fields --json t 2>/dev/tty" + slowReader + " >/dev/null\" /dev/null", true},
        {"pipe", "VESK -r --fields --json t" + slowReader, false},
        {"pipe, asked for", "VESK -r --progress --fields --json t" + slowReader, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto r = run(c.command, dir.path().string());
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string all = r.out + r.err;
        EXPECT_EQ(all.find("files/s") != std::string::npos, c.shown) << all.substr(0, 300);
        if (c.shown) {
            EXPECT_NE(all.find("\rvesk-info: "), std::string::npos);
        }
        if (!r.out.empty() && r.out[0] == '{') {
            // What reached standard output is JSON lines only.
            EXPECT_EQ(r.out.find('\r'), std::string::npos);
            EXPECT_EQ(jsonLines(r.out).size(), 400u);
        }
    }
}

// `levels` folders named `name`, one in the other, made by descriptor so no
// path length stops it; a link to the photo at each level listed in `at`.
void makeDeep(const std::string& root, int levels, const std::string& name, const std::vector<int>& at) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 1; level <= levels && fd >= 0; ++level) {
        ::mkdirat(fd, name.c_str(), 0755);
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
        if (std::count(at.begin(), at.end(), level) &&
            ::symlinkat(kPhoto.c_str(), fd, ("photo" + std::to_string(level) + ".jpg").c_str()) != 0)
            break;
    }
    ::close(fd);
}

// Whatever the tree, every photo that can be reached is reported once, and
// every one that cannot is said, with status 1.
TEST(VeskInfoWalk, NoTreeLosesAFileQuietly) {
    const std::string n(120, 'n');
    const auto web = [](const std::string& t) {
        for (int i = 0; i < 17; ++i)
            for (const char* name : {"/a", "/b"})
                fs::create_directories(t + "/n" + std::to_string(i)),
                    fs::create_directory_symlink("../n" + std::to_string(i + 1), t + "/n" + std::to_string(i) + name);
        link(kPhoto, t + "/n17/photo.jpg");
    };
    const auto kernel = [](const std::string& t) {
        link(kPhoto, t + "/a.jpg");
        for (const char* tree : {"/sys", "/proc", "/dev"}) fs::create_directory_symlink(tree, t + tree);
    };
    const auto closed = [](const std::string& t) {
        link(kPhoto, t + "/a.jpg"), link(kPhoto, t + "/closed/b.jpg");
        ::chmod((t + "/closed").c_str(), 0444);
    };
    const struct {
        const char* what;
        std::function<void(const std::string&)> make;
        std::vector<std::string> paths;
        std::string said;
        int status;
    } cases[] = {
        {"deeper than PATH_MAX", [&](const std::string& t) { makeDeep(t, 40, n, {2, 40}); },
         {"t/" + n + "/" + n + "/photo2.jpg"}, "/photo40.jpg: File name too long\n", 1},
        {"deeper than the walk goes", [&](const std::string& t) { makeDeep(t, 300, "d", {1, 300}); }, {"t/d/photo1.jpg"},
         "more than 256 folders deep (folder not walked)\n", 1},
        {"a folder listed but not entered", closed, {"t/a.jpg"},
         "vesk-info: t/closed: Permission denied (folder listed, its files not reached)\n", 1},
        {"a web of links", web, {"t/n0/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/photo.jpg"},
         "vesk-info: t/n0/b: a folder already walked by another way, not walked again\n", 0},
        {"links into the kernel's trees", kernel, {"t/a.jpg"}, "vesk-info: t/sys: symbolic link into /sys, not followed\n", 0},
    };
    // Root enters every folder: the walk runs as nobody.
    const std::string as = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        ::chmod(dir.path().c_str(), 0755);
        fs::create_directory(dir.file("t"));
        c.make(dir.file("t"));
        const auto r = run(as + "VESK -r --json t", dir.path().string());
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(pathsOf(r.out), c.paths);
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        // std::filesystem gives up past PATH_MAX; rm walks by descriptor.
        ::chmod(dir.file("t/closed").c_str(), 0755);
        EXPECT_EQ(std::system(("rm -rf '" + dir.file("t") + "'").c_str()), 0);
    }
}
