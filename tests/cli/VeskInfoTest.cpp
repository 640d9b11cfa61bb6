// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../TestSupport.h"

using vesk::test::ScratchDir;

namespace {

struct Run {
    int status;
    std::string out, err;
};

// Runs vesk-info with `args` (already shell-quoted by the test) in `cwd`,
// its standard output into `stdoutTo` when given, behind `prefix` (a command
// such as setpriv). Its temporary directory is the scratch folder, so the
// comment file an image report writes goes with it instead of staying in the
// user's own. A run that blocks is ended after a minute.
Run runVeskInfo(const std::string& args, const std::string& cwd = ".", const std::string& stdoutTo = "",
                const std::string& prefix = "") {
    ScratchDir io;
    const std::string out = stdoutTo.empty() ? io.file("out") : stdoutTo;
    const std::string cmd = "cd '" + cwd + "' && TMPDIR='" + io.path().string() + "' timeout 60 " + prefix + " '" +
                            VESK_INFO_BIN "' " + args + " >'" + out + "' 2>'" + io.file("err") + "'";
    const int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, stdoutTo.empty() ? vesk::test::readFile(out) : "",
            vesk::test::readFile(io.file("err"))};
}

// A socket file at `path`, left when the descriptor closes.
bool makeSocket(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool made = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (fd >= 0) ::close(fd);
    return made;
}

}  // namespace

TEST(VeskInfo, AMissingPathIsReportedOnStandardErrorOnly) {
    ScratchDir dir;
    const auto r = runVeskInfo("--fields --json '" + dir.file("nope.jpg") + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "vesk-info: " + dir.file("nope.jpg") + ": No such file or directory\n");
}

// "path" echoes the path as typed; the store keeps the absolute path the
// window would have stored. The text forms head each report with the path
// as typed too.
TEST(VeskInfo, JsonHoldsExactlyTheKeysWithValuesAndThePathAsGiven) {
    ScratchDir dir;
    dir.write("lib.dylib", "x");
    for (const char* args : {"lib.dylib", "--summary ./lib.dylib"}) {
        const auto text = runVeskInfo(args, dir.path().string());
        const std::string given = std::string(args).substr(std::string(args).rfind(' ') + 1);
        EXPECT_EQ(text.out.rfind("==> " + given + " <==\n", 0), 0u) << text.out;
    }
    const auto r = runVeskInfo("--fields --json lib.dylib", dir.path().string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("{\"path\": \"lib.dylib\", \"store\": {\"prefCurFilePath\": \"" + dir.file("lib.dylib") +
                              "\", \"prefTextViewString1\": ",
                          0),
              0u)
        << r.out;
    EXPECT_EQ(r.err, "");  // the diagnostic log stays quiet unless asked for
}

TEST(VeskInfo, ManyPathsKeepTheirOrderAndOneMissingSetsStatusOne) {
    ScratchDir dir;
    dir.write("a.dylib", "x");
    dir.write("b.dylib", "x");
    const auto r = runVeskInfo("--fields --json a.dylib missing.jpg b.dylib", dir.path().string());
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
    for (const auto& n : names) alone[n] = runVeskInfo("--fields --json '" + fixtures + n + "'").out;
    std::string args;
    for (int i = 0; i < 25; ++i)
        for (const auto& n : names) args += " '" + fixtures + n + "'";
    const auto r = runVeskInfo("--fields --json" + args);
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
    const std::string run = "TMPDIR='" + io.path().string() + "' '" VESK_INFO_BIN "' --fields --json";
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

// A comment whose file cannot be written is shown all the same, and said once.
TEST(VeskInfo, ACommentWhoseFileCannotBeWrittenIsShownAndSaidOnce) {
    ScratchDir tmp;
    std::filesystem::create_directory(tmp.file("usercomment.xml"));  // the file cannot replace it
    const auto r = runVeskInfo("--fields --json " VESK_FIXTURE_DIR "/image/plist-dict.jpg", ".", "", "env TMPDIR=" + tmp.path().string());
    EXPECT_TRUE(r.status == 0 && r.out.find("Summer trip") != std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find("plist-dict.jpg: usercomment.xml could not be written (cannot replace"), std::string::npos);
}

// Whatever a photo's metadata or a file's name holds, text output carries no
// control character to the terminal; the Dictionary text shows a control as
// the platform does (\U001b), and JSON adds only its own escapes to that.
TEST(VeskInfoTerminal, ControlCharactersFromFilesAreShownEscaped) {
    ScratchDir dir;
    const std::string name = "evil\x1B[2J\x9B.jpg";
    std::filesystem::copy_file(VESK_FIXTURE_DIR "/image/words.jpg", dir.file(name));
    const std::string set = "exiftool -q -q -overwrite_original '-ImageDescription=x\x1B]0;owned\x07\x1B[2J\xC2\x85y' '" +
                            dir.file(name) + "'";
    ASSERT_EQ(std::system(set.c_str()), 0) << "exiftool could not write the description";

    struct Case {
        const char* what;
        std::string args, mustHold, mustNotHold;
    };
    const std::vector<Case> cases = {
        {"description in text", "'" + name + "'", "x\\e]0;owned\\x07\\e[2J\\u0085y", "\x1B"},
        {"fields in text", "--fields '" + name + "'", "x\\U001b]0;owned\\U0007\\U001b[2J\\U0085y", "\x1B"},
        {"file name in text", "'" + name + "'", "evil\\e[2J\\x9b.jpg <==", "\x9B"},
        {"verbose log", "--verbose --fields '" + name + "'", "x\\U001b]0;owned", "\x07"},
        {"json", "--fields --json '" + name + "'", "x\\\\U001b]0;owned\\\\U0007\\\\U001b[2J\\\\U0085y", "\\\\e"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto r = runVeskInfo(c.args, dir.path().string());
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string all = r.out + r.err;
        EXPECT_NE(all.find(c.mustHold), std::string::npos) << all;
        EXPECT_EQ(all.find(c.mustNotHold), std::string::npos);
        if (c.args.rfind("--fields --json", 0) != 0) {
            EXPECT_EQ(all.find('\x1B'), std::string::npos);
        }
    }
    const auto missing = runVeskInfo("'gone\x1B[2J.jpg'", dir.path().string());
    EXPECT_EQ(missing.err, "vesk-info: gone\\e[2J.jpg: No such file or directory\n");
}

// A path the image or library report would read but cannot: named with the
// reason, status 1, and its report printed all the same. Never blocks.
TEST(VeskInfoStatus, PathsThatAreNoReadableFilesAreNamedWithTheReason) {
    ScratchDir dir;
    ::chmod(dir.path().c_str(), 0755);  // reachable by the user the locked case runs as
    struct Case {
        const char* name;
        std::function<bool(const std::string&)> make;
        const char* reason;  // nothing: inspected quietly
        bool asOtherUser = false;
    };
    const auto folder = [](const std::string& p) { return std::filesystem::create_directory(p); };
    const std::vector<Case> cases = {
        {"photo.jpg", [&](const std::string&) { return !dir.write("photo.jpg", "not an image").empty(); }, nullptr},
        {"Plug.bundle", folder, nullptr},
        {"folder.jpg", folder, "Is a directory (-r walks folders)"},
        {"folder.dylib", folder, "Is a directory (-r walks folders)"},
        {"noextension", folder, "Is a directory (-r walks folders)"},
        {"Plug.app", folder, nullptr},  // a bundle kind: the bundle report reads folders
        {"pipe.jpg", [](const std::string& p) { return ::mkfifo(p.c_str(), 0600) == 0; }, "not a regular file"},
        {"pipe.dylib", [](const std::string& p) { return ::mkfifo(p.c_str(), 0600) == 0; }, "not a regular file"},
        {"socket.jpg", makeSocket, "not a regular file"},
        {"device.jpg", [](const std::string& p) { return ::symlink("/dev/null", p.c_str()) == 0; },
         "not a regular file"},
        {"locked.dylib",
         [&](const std::string& p) { return !dir.write("locked.dylib", "x").empty() && ::chmod(p.c_str(), 0) == 0; },
         "Permission denied", true},
    };
    // Root reads everything: the locked file is tried as nobody instead.
    const bool root = ::geteuid() == 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.make(dir.file(c.name)));
        const std::string prefix =
            c.asOtherUser && root ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
        for (const char* mode : {"--fields", "--fields --json", "--properties"}) {
            SCOPED_TRACE(mode);
            const auto r = runVeskInfo(std::string(mode) + " " + c.name, dir.path().string(), "", prefix);
            EXPECT_EQ(r.status, c.reason ? 1 : 0);
            EXPECT_EQ(r.err, c.reason ? "vesk-info: " + std::string(c.name) + ": " + c.reason + "\n" : "");
            const std::string m = mode;
            const std::string printed = m == "--properties" ? "\"" + std::string(c.name) + "\""
                                        : m == "--fields --json" ? dir.file(c.name)
                                                            : "==> " + std::string(c.name) + " <==";
            EXPECT_NE(r.out.find(printed), std::string::npos) << "the report is printed all the same";
        }
    }
}

// Output that cannot be written is a failure, said once on standard error.
// A HEIF file that needs libheif, on a system where it cannot be loaded
// (hidden here in a mount namespace of the run's own): what Vesk read is
// shown, and one log line says why the rest is not.
TEST(VeskInfoStatus, AReaderLibraryThatCannotBeLoadedIsSaid) {
    std::string library;
    for (const auto& dir : std::filesystem::directory_iterator("/usr/lib"))
        if (std::filesystem::exists(dir.path() / "libheif.so.1")) library = (dir.path() / "libheif.so.1").string();
    if (::geteuid() != 0 || library.empty() || std::system("unshare -m true 2>/dev/null") != 0)
        GTEST_SKIP() << "needs root and mount namespaces to hide libheif";
    const std::string file = VESK_FIXTURE_DIR "/image/compressed-xmp.heic";  // the tables leave it to libheif
    const auto r = runVeskInfo("--verbose --properties '" + file + "'", ".", "",
                               "unshare -m sh -c 'mount --bind /dev/null \"$0\" && exec \"$@\"' '" + library + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Image reader: " + file + ": libheif could not be loaded ("), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("\"FileSize\": "), std::string::npos) << r.out;
}

TEST(VeskInfoStatus, AWriteErrorOnStandardOutputExitsOne) {
    const std::string photo = "'" VESK_SOURCE_DIR "/samples/Canon_DIGITAL_IXUS_400.jpg'";
    std::string many;
    for (int i = 0; i < 50; ++i) many += " " + photo;
    for (const std::string& args : {photo, "--json " + photo, "--properties " + photo, many, std::string("--help"),
                                    std::string("--version")}) {
        SCOPED_TRACE(args.substr(0, 40));
        const auto r = runVeskInfo(args, ".", "/dev/full");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "vesk-info: write error on standard output: No space left on device\n");
    }
}

// The window's summary as text and JSON, from the same code; what each form
// of a sample says, and the one combination that means nothing.
TEST(VeskInfoSummary, SummaryTextAndJson) {
    ScratchDir dir;
    const std::string library = dir.file("libvesk");  // a Mach-O library known by its first bytes
    std::filesystem::copy_file(VESK_FIXTURE_DIR "/dylib/libvesk-universal.dylib", library);
    const std::string app = VESK_MACHO_FIXTURES "/Viewer.app";
    const std::string iphone = VESK_SOURCE_DIR "/samples/Apple_iPhone_6.jpg";
    const std::string canon = VESK_SOURCE_DIR "/samples/Canon_DIGITAL_IXUS_400.jpg";
    const struct {
        std::string args;
        int status;
        std::vector<std::string> lines;
    } cases[] = {
        {"--summary '" + iphone + "'", 0,
         {"==> " + iphone + " <==", "Camera: Apple iPhone 6", "Exposure: 1/40 s · f/2.2 · ISO 32 · 4.2 mm (57 mm in 35 mm)",
          "Position: 40°26′49.10″ N, 3°43′29.11″ W (40.446972, -3.724753)", "Reveals: GPS position, software"}},
        {"--summary '" + canon + "'", 0, {"Exposure: 1/200 s · f/10 · ISO 50 · 15.4 mm", "Reveals: owner, software"}},
        {"--summary --json '" + iphone + "'", 0,
         {"{\"path\": \"" + iphone + "\", \"summary\": [{\"label\": \"Camera\", \"text\": \"Apple iPhone 6\"}",
          "\"position\": {\"latitude\": 40.446972, \"longitude\": -3.724753}",
          "\"reveals\": [{\"label\": \"GPS position\", \"group\": \"{GPS}\", \"key\": \"Latitude\"}"}},
        {"--summary --properties '" + iphone + "'", 2, {}},
        {"--summary '" + app + "'", 0, {"==> " + app + " <==\nArchitectures: x86_64, arm64 (universal)\n"}},
        {"--summary '" VESK_MACHO_FIXTURES "/Kit.framework'", 0, {"Architectures: x86_64, arm64 (universal)"}},
        {"--summary '" VESK_MACHO_FIXTURES "/Filter.plugin'", 0, {"Architecture: x86_64"}},
        {"--summary '" + library + "'", 0, {"Kind: Mach-O universal binary with 2 architectures"}},
        {"--summary '" VESK_CODE_FIXTURES "/Studio.app'", 0,
         {"Code: x86_64 + arm64 · macOS 11.0+ · SDK 14.2 · x86_64: unsigned; arm64: signed, Team ABCDE12345, "
          "hardened runtime · 1 library\n",
          "Contains: Kit.framework, Filter.plugin\nAsks for: camera, location, microphone\n"}},
        {"--summary --json '" VESK_CODE_FIXTURES "/libold.dylib'", 0,
         {"{\"label\": \"Code\", \"text\": \"x86_64 · macOS 10.13+ · SDK 10.15 · unsigned · 0 libraries\"}"}},
    };
    for (const auto& c : cases) {
        const auto r = runVeskInfo(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        for (const auto& line : c.lines) EXPECT_NE(r.out.find(line), std::string::npos) << c.args << "\n" << r.out;
    }
}

// Newlines and tabs in names and values are escaped in text: a crafted name
// or tag cannot start a line that looks like a header or a summary of Vesk's.
TEST(VeskInfoTerminal, NamesAndValuesCannotStartALineOfTheirOwn) {
    ScratchDir dir;
    const std::string name = "a\n==> b.jpg <==\tc.jpg";
    std::filesystem::copy_file(VESK_FIXTURE_DIR "/image/words.jpg", dir.file(name));
    const std::string set = "exiftool -q -q -overwrite_original '-Make=Canon\nReveals: nothing' '" + dir.file(name) + "'";
    ASSERT_EQ(std::system(set.c_str()), 0) << "exiftool could not write the make";
    for (const auto& [args, mustHold] : std::vector<std::pair<std::string, std::string>>{
             {"'" + name + "'", "==> a\\n==> b.jpg <==\\tc.jpg <==\n"},
             {"--summary '" + name + "'", "Canon\\nReveals: nothing"},
             {"'gone\n" + name + "'", "vesk-info: gone\\na\\n==> b.jpg <==\\tc.jpg: No such file or directory\n"}}) {
        SCOPED_TRACE(args);
        const auto r = runVeskInfo(args, dir.path().string());
        const std::string all = r.out + r.err;
        EXPECT_NE(all.find(mustHold), std::string::npos) << all;
        for (const char* forged : {"\n==> b.jpg", "\nReveals: nothing", "<==\tc.jpg"})
            EXPECT_EQ(all.find(forged), std::string::npos) << all;
    }
}

// The default text reads a file as the details view does, each tag once; the
// window's six fields stay one option away; what no report reads is said.
TEST(VeskInfoForms, DefaultTextFieldsAndFilesNoReportReads) {
    ScratchDir dir;
    dir.write("notes.txt", "just words\n");
    const std::string canon = VESK_SOURCE_DIR "/samples/Canon_DIGITAL_IXUS_400.jpg";
    const std::string app = VESK_MACHO_FIXTURES "/Viewer.app";
    const std::string notA = "vesk-info: notes.txt: not a photo, bundle or library\n";
    std::filesystem::copy(VESK_SOURCE_DIR "/samples/Viewer.app", dir.file("Id.app"),
                          std::filesystem::copy_options::recursive);
    dir.write("Id.app/Contents/Info.plist",
              "<plist><dict><key>CFBundleExecutable</key><string>Viewer</string><key>CFBundleIdentifier</key>"
              "<string>org.vesk.Viewer</string><key>CFBundleVersion</key><integer>3</integer></dict></plist>");
    const struct {
        std::string args;
        int status;
        std::string err;
        std::vector<std::string> parts;
    } cases[] = {
        {"'" + canon + "'", 0, "",
         {"==> " + canon + " <==\nCamera: Canon DIGITAL IXUS 400\n", "Reveals: owner, software\n[Image] ColorModel  RGB\n",
          "\n[Exif] ExposureTime  1/200 s\n", "\n[ExifAux] OwnerName  Jean-Pierre Grignon\n"}},
        {"'" + app + "'", 0, "",
         {"==> " + app + " <==\nArchitectures: x86_64, arm64 (universal)\nCode: x86_64 + arm64",
          " libraries\n\n[Bundle] CFBundleExecutable  Viewer\n[Viewer · x86_64] File type  bundle\n", "[Viewer · arm64 · Signature] Signature  ad hoc signed\n"}},
        {"--fields '" + canon + "'", 0, "", {"==> " + canon + " <==\nProperties:\n{", "\nEXIF:\n", "\nMaker notes:\n"}},
        {"notes.txt", 1, notA, {"==> notes.txt <==\n\n"}},
        {"--fields notes.txt", 0, "", {"==> notes.txt <==\n"}},
        {"--json notes.txt", 1, notA,
         {"{\"path\": \"notes.txt\", \"kind\": \"none\", \"summary\": [], \"position\": null, \"reveals\": []}\n"}},
        {"--json '" + app + "'", 0, "", {"\"kind\": \"bundle\"", "\"architectures\": [\"x86_64\", \"arm64\"], \"identity\": {}}\n"}},
        {"--json Id.app", 0, "", {"\"identity\": {\"CFBundleIdentifier\": \"org.vesk.Viewer\"}}\n"}},
        {"--json '" VESK_MACHO_FIXTURES "/Script.app'", 1,
         "vesk-info: " VESK_MACHO_FIXTURES "/Script.app: The bundle's executable is not a Mach-O file\n", {"\"kind\": \"none\""}},
        {"--json '" + canon + "'", 0, "", {"\"kind\": \"image\"", "\"properties\": {\"ColorModel\": \"RGB\""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const auto r = runVeskInfo(c.args, dir.path().string());
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.err);
        for (const auto& part : c.parts) EXPECT_NE(r.out.find(part), std::string::npos) << r.out;
    }
    std::istringstream lines(runVeskInfo("'" + canon + "'").out);
    std::set<std::string> seen;
    for (std::string line; std::getline(lines, line);) EXPECT_TRUE(line.empty() || seen.insert(line).second) << line;
}

// -t limits every form to the tags asked for; --csv is one quoted row a
// file; "-" is standard input, read like a file.
TEST(VeskInfoForms, TagsCsvAndStandardInput) {
    ScratchDir dir;
    dir.write("notes.txt", "just words\n");
    const std::string canon = VESK_SOURCE_DIR "/samples/Canon_DIGITAL_IXUS_400.jpg";
    const std::string gps = VESK_FIXTURE_DIR "/image/gps.jpg";  // south of the equator
    const struct {
        std::string args;
        int status;
        std::string out;  // whole, or a part when `whole` is false
        bool whole;
    } cases[] = {
        {"-t make -t Exif:FNumber -t TIFF:nothing '" + canon + "'", 0,
         "==> " + canon + " <==\n[Exif] FNumber  f/10\n[TIFF] Make  Canon\n\n", true},
        // Values read with others: a latitude with its reference, the lens from the maker note.
        {"-t latitude -t ExifAux:LensInfo '" + gps + "' '" + canon + "'", 0,
         "==> " + gps + " <==\n[GPS] Latitude  33°52′7.68″ S\n\n==> " + canon +
             " <==\n[ExifAux] LensInfo  7.4–22.2 mm\n\n",
         true},
        {"--json -t FNUMBER '" + canon + "'", 0, "\"properties\": {\"{Exif}\": {\"FNumber\": 10}}}\n", false},
        {"--csv -t Make -t Model '" + canon + "' notes.txt", 1,
         "path,Make,Model\r\n" + canon + ",Canon,Canon DIGITAL IXUS 400\r\nnotes.txt,,\r\n", true},
        {"--csv '" + canon + "'", 0, ",1/200 s · f/10 · ISO 50 · 15.4 mm,\"Auto, did not fire\",2004-08-27 13:52:55,", false},
        {"--csv -t 'a\"b,c' notes.txt", 1, "path,\"a\"\"b,c\"\r\nnotes.txt,\r\n", true},
        {"-t make - <'" + canon + "'", 0, "==> - <==\n[TIFF] Make  Canon\n\n", true},
        {"--json - <notes.txt", 1, "{\"path\": \"-\", \"kind\": \"none\", \"summary\": []", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const auto r = runVeskInfo(c.args, dir.path().string());
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.whole) {
            EXPECT_EQ(r.out, c.out);
        } else {
            EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
        }
    }
}

// The README's vesk-info examples run as shown from the top of the tree, and
// the default text it shows is what the first one prints.
TEST(VeskInfoReadme, ExamplesRunAsShown) {
    const std::string readme = vesk::test::readFile(VESK_SOURCE_DIR "/README.md");
    const auto section = readme.find("`vesk-info` on its own");
    ASSERT_NE(section, std::string::npos);
    const auto block = [&](const std::string& fence) {
        const auto start = readme.find(fence, section) + fence.size();
        return readme.substr(start, readme.find("```\n", start) - start);
    };
    std::istringstream commands(block("```sh\n"));
    std::string first;
    int count = 0;
    for (std::string line; std::getline(commands, line); ++count) {
        SCOPED_TRACE(line);
        ASSERT_EQ(line.rfind("build/vesk-info ", 0), 0u);
        ScratchDir io;
        const std::string cmd = "cd '" VESK_SOURCE_DIR "' && TMPDIR='" + io.path().string() + "' '" VESK_INFO_BIN "'" +
                                line.substr(15) + " >'" + io.file("out") + "' 2>'" + io.file("err") + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        const std::string out = vesk::test::readFile(io.file("out"));
        EXPECT_FALSE(out.empty());
        EXPECT_EQ(vesk::test::readFile(io.file("err")), "");
        if (count == 0) first = out;
    }
    EXPECT_GE(count, 3);
    std::istringstream shown(block("```text\n"));
    for (std::string line; std::getline(shown, line);) {
        if (line != "...") {
            EXPECT_NE(first.find(line + "\n"), std::string::npos) << line;
        }
    }
}

// Where --clean puts each copy: in -o's folder, beside the original only
// under another name, and with -r in the walked folder's own layout.
TEST(VeskInfoClean, WhereTheCopiesGo) {
    const struct {
        std::string args;
        int status;
        std::vector<std::string> made;  // the copies
    } cases[] = {
        {"-o out Photos/a.jpg", 0, {"out/a.jpg"}},
        {"-o Photos Photos/a.jpg", 0, {"Photos/a (clean).jpg"}},
        {"-o out Photos/a.jpg Photos/2024/a.jpg", 1, {"out/a.jpg"}},  // the second would overwrite the first
        {"-r -o out Photos/ Other", 0, {"out/Photos/a.jpg", "out/Photos/2024/a.jpg", "out/Other/a.jpg"}},
        {"-r -o Photos/2024 Photos", 1, {}},  // the walk would meet its own copies
        {"-r -o . .", 0, {"Photos/a (clean).jpg", "Photos/2024/a (clean).jpg", "Other/a (clean).jpg"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        ScratchDir dir;
        for (const char* name : {"Photos/a.jpg", "Photos/2024/a.jpg", "Other/a.jpg"}) {
            std::filesystem::create_directories(std::filesystem::path(dir.file(name)).parent_path());
            std::filesystem::copy_file(VESK_SOURCE_DIR "/samples/Nikon_COOLPIX_P6000_GPS.jpg", dir.file(name));
        }
        std::filesystem::create_directory(dir.file("out"));
        const auto r = runVeskInfo("--clean location " + c.args, dir.path().string());
        EXPECT_EQ(r.status, c.status) << r.err;
        for (const auto& made : c.made) EXPECT_TRUE(std::filesystem::exists(dir.file(made))) << made << "\n" << r.out;
        std::size_t files = 0;  // the originals and the copies named, nothing more
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path())) files += e.is_regular_file();
        EXPECT_EQ(files, 3 + c.made.size());
    }
}
