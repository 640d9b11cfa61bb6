// SPDX-License-Identifier: GPL-3.0-or-later
// The image report: what performGetImageInfo leaves in the info store, the
// log lines it writes and the comment file, on real files.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <tuple>
#include <filesystem>

#include "../TestSupport.h"
#include "ImageTestSupport.h"
#include "inspector/ImageReport.h"
#include "inspector/InfoKeys.h"
#include "inspector/ViewController.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"

using namespace vesk;
using namespace vesk::platform;
using namespace vesk::test;

namespace {

// Each test gets its own private temporary directory for usercomment.xml.
class ImageReports : public ::testing::Test {
protected:
    void SetUp() override {
        tmp = std::filesystem::path(scratch.file("tmp"));
        std::filesystem::create_directory(tmp);
        ::chmod(tmp.c_str(), 0700);
        tmpdir.emplace("TMPDIR", tmp.string());
        inspector = std::make_shared<ViewController>(t.services());
    }
    void TearDown() override {
        inspector.reset();
        tmpdir.reset();
    }

    std::optional<std::string> field(const char* key) const { return store->get(key); }
    std::string commentFile() const { return (tmp / "usercomment.xml").string(); }
    std::vector<std::string> report(const std::string& path) {
        auto& log = t.startLog();
        inspector->performGetImageInfo(path);
        return log.lines();
    }

    ScratchDir scratch;
    std::filesystem::path tmp;
    std::optional<ScopedEnv> tmpdir;
    std::shared_ptr<MemoryUserDefaults> store = std::make_shared<MemoryUserDefaults>();
    test::TestServices t{store};
    NotificationCenter& center = t.center;
    std::shared_ptr<ViewController> inspector;
};

std::string prefixOf(const std::string& line) { return line.substr(0, line.find('=') + 1); }

}  // namespace

TEST_F(ImageReports, EverySampleFillsTheFieldsFromItsDictionary) {
    for (const char* file : {"Canon_DIGITAL_IXUS_400.jpg", "Nikon_COOLPIX_P1.jpg", "Nikon_COOLPIX_P6000_GPS.jpg",
                             "Fujifilm_FinePix_E500.jpg", "Apple_iPhone_6.jpg"}) {
        SCOPED_TRACE(file);
        const auto lines = report(sample(file));
        const auto props = readImageProperties(sample(file), t.log);
        ASSERT_TRUE(props);
        EXPECT_EQ(field(prefCurFilePath), sample(file));
        EXPECT_EQ(field(prefTextViewString1), describe(Value(*props)));
        EXPECT_EQ(field(prefTextViewString2), describe(Value(mergedExifDictionary(props))));
        EXPECT_EQ(field(prefTextViewString5), describe(props->at("{TIFF}")));
        EXPECT_EQ(field(prefTextViewString6), describe(Value(makerNoteDictionary(props))));
        EXPECT_NE(field(prefTextViewString6), "{\n}");
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], "exif info = " + describe(Value(*props)));
        EXPECT_EQ(lines[1].rfind("exif info.allkeys = (\n", 0), 0u);
    }
    report(sample("Apple_iPhone_6.jpg"));
    EXPECT_NE(field(prefTextViewString1)->find("\"{GPS}\" =     {\n        Altitude = "), std::string::npos);
    EXPECT_NE(field(prefTextViewString6)->find("RunTime =     {\n        epoch = 0;"), std::string::npos);
    EXPECT_NE(field(prefTextViewString2)->find("LensModel = \"iPhone 6 back camera 4.15mm f/2.2\";"), std::string::npos);
}

TEST_F(ImageReports, MergePrecedence) {
    // {ExifAux} wins over {Exif}; Pentax over Canon; missing pieces add nothing.
    const Dictionary props{
        {"{Exif}", Value(Dictionary{{"LensModel", Value("exif")}, {"ISOSpeedRatings", Value(100)}})},
        {"{ExifAux}", Value(Dictionary{{"LensModel", Value("aux")}})},
        {"{MakerNikon}", Value(Dictionary{{"Shared", Value("nikon")}, {"N", Value(1)}})},
        {"{MakerCanon}", Value(Dictionary{{"Shared", Value("canon")}, {"C", Value(2)}})},
        {"{MakerApple}", Value(Dictionary{{"Shared", Value("apple")}})},
        {"{MakerFuji}", Value(Dictionary{{"Shared", Value("fuji")}})},
        {"{MakerPentax}", Value(Dictionary{{"Shared", Value("pentax")}})},
        {"{MakerOlympus}", Value(Dictionary{{"Shared", Value("olympus")}, {"O", Value(3)}})},
    };
    EXPECT_EQ(mergedExifDictionary(props),
              (Dictionary{{"LensModel", Value("aux")}, {"ISOSpeedRatings", Value(100)}}));
    EXPECT_EQ(makerNoteDictionary(props),
              (Dictionary{{"Shared", Value("pentax")}, {"N", Value(1)}, {"C", Value(2)}}));
    Dictionary withoutPentax = props;
    withoutPentax.erase("{MakerPentax}");
    EXPECT_EQ(makerNoteDictionary(withoutPentax).at("Shared"), Value("fuji"));
    EXPECT_EQ(mergedExifDictionary(std::nullopt), Dictionary{});
    EXPECT_EQ(makerNoteDictionary(Dictionary{}), Dictionary{});

    // The same on a real file: XMP aux:Lens replaces the EXIF LensModel.
    report(fixture("lens.jpg"));
    EXPECT_NE(field(prefTextViewString2)->find("LensModel = \"Aux Lens 50mm f/1.8\";"), std::string::npos);
    EXPECT_EQ(field(prefTextViewString2)->find("EXIF Lens"), std::string::npos);
}

TEST_F(ImageReports, FieldsLeftEmpty) {
    // JFIF without TIFF or EXIF.
    report(fixture("jfif-only.jpg"));
    EXPECT_TRUE(field(prefTextViewString1));
    EXPECT_EQ(field(prefTextViewString2), "{\n}");
    EXPECT_FALSE(field(prefTextViewString3));
    EXPECT_TRUE(field(prefTextViewString4));
    EXPECT_FALSE(field(prefTextViewString5));
    EXPECT_EQ(field(prefTextViewString6), "{\n}");

    // EXIF only: field 2 is exactly {Exif}.
    report(fixture("camera.tif"));
    const auto props = readImageProperties(fixture("camera.tif"), t.log);
    EXPECT_EQ(field(prefTextViewString2), describe(props->at("{Exif}")));
    EXPECT_FALSE(field(prefTextViewString4));
}

TEST_F(ImageReports, NoImageDictionary) {
    for (const std::string& path : {fixture("text.jpg"), fixture("empty.jpg")}) {
        SCOPED_TRACE(path);
        const auto lines = report(path);
        EXPECT_EQ(lines, (std::vector<std::string>{"exif info = (null)", "exif info.allkeys = (null)"}));
        EXPECT_EQ(store->snapshot(), (std::map<std::string, std::string>{
                                         {prefCurFilePath, path},
                                         {prefTextViewString2, "{\n}"},
                                         {prefTextViewString6, "{\n}"}}));
    }
    // A folder exists but is no source: the status line comes first.
    const auto lines = report(fixture("folder.jpg"));
    EXPECT_EQ(lines, (std::vector<std::string>{"Error: file name : " + fixture("folder.jpg") + " - Status: -4",
                                                "exif info = (null)", "exif info.allkeys = (null)"}));
    EXPECT_EQ(field(prefCurFilePath), fixture("folder.jpg"));
    EXPECT_EQ(field(prefTextViewString2), "{\n}");
}

TEST_F(ImageReports, TwoReportsInARowLeaveNothingOver) {
    report(sample("Canon_DIGITAL_IXUS_400.jpg"));
    report(fixture("plist-dict.jpg"));
    ASSERT_TRUE(field(prefTextViewString3));
    report(fixture("jfif-only.jpg"));
    EXPECT_FALSE(field(prefTextViewString3));
    EXPECT_FALSE(field(prefTextViewString5));
    EXPECT_EQ(field(prefTextViewString6), "{\n}");
    EXPECT_EQ(field(prefCurFilePath), fixture("jfif-only.jpg"));
}

TEST_F(ImageReports, AMissingFileOrNoPathChangesNothing) {
    report(sample("Canon_DIGITAL_IXUS_400.jpg"));
    const auto before = store->snapshot();
    EXPECT_TRUE(report(scratch.file("missing.jpg")).empty());
    auto& log = t.startLog();
    inspector->performGetImageInfo(std::nullopt);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(store->snapshot(), before);
}

TEST_F(ImageReports, FixedFileActionReadsTestexifOnTheDesktop) {
    const std::string home = scratch.file("home");
    ScopedEnv homeEnv("HOME", home);
    store->set(prefTextViewString4, "kept");
    inspector->ibGetExifInfo();  // no ~/Desktop/testexif.jpg
    EXPECT_EQ(field(prefTextViewString4), "kept");
    std::filesystem::create_directories(home + "/Desktop");
    std::filesystem::copy_file(sample("Nikon_COOLPIX_P1.jpg"), home + "/Desktop/testexif.jpg");
    inspector->ibGetExifInfo();
    EXPECT_EQ(field(prefCurFilePath), home + "/Desktop/testexif.jpg");
    EXPECT_NE(field(prefTextViewString6), "{\n}");
}

TEST_F(ImageReports, CommentHoldingADictionaryIsShownAndKeptInTheFile) {
    // The same comment carried by a JPEG, a HEIC and a JPEG XL (in a Brotli box).
    for (const char* name : {"plist-dict.jpg", "plist-dict.heic", "plist-dict.jxl"}) {
        SCOPED_TRACE(name);
        const auto lines = report(fixture(name));
        const auto props = readImageProperties(fixture(name), t.log);
        ASSERT_TRUE(props);
        const std::string comment = *props->at("{Exif}").get<Dictionary>()->at("UserComment").get<std::string>();
        EXPECT_EQ(readFile(commentFile()), comment);
        const Dictionary expected{
            {"album", Value("Summer trip")},
            {"place", Value(Dictionary{{"city", Value("Oslo")}, {"rating", Value(4)}})},
            {"tags", Value(Array{Value("sea"), Value("boat")})},
        };
        EXPECT_EQ(field(prefTextViewString3), describe(Value(expected)));
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[2], "uc = " + describe(Value(expected)));
        struct stat st{};
        ASSERT_EQ(::stat(commentFile().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
}

TEST_F(ImageReports, CommentWithoutADictionaryReadsNull) {
    for (const char* name : {"words.jpg", "plist-list.jpg", "unicode-be.jpg", "junk-comment.jpg", "big-comment.tif"}) {
        SCOPED_TRACE(name);
        auto lines = report(fixture(name));
        EXPECT_EQ(field(prefTextViewString3), "(null)");
        // The 1 MB comment is cut, which the report tells first, in one line.
        if (std::string(name) == "big-comment.tif") {
            ASSERT_FALSE(lines.empty());
            EXPECT_NE(lines[0].find("Image budget: "), std::string::npos);
            lines.erase(lines.begin());
        }
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[2], "uc = (null)");
    }
    // big-comment.tif's 1 MB comment, whole.
    EXPECT_EQ(std::filesystem::file_size(commentFile()), 37450u * 28 - 1);  // whole, but its closing blank
    report(fixture("words.jpg"));
    EXPECT_EQ(readFile(commentFile()), "Just some plain words");
}

// A comment longer than a tag shows is still read whole: the comment file
// holds all of it, and a property list in it is read as one.
TEST_F(ImageReports, LongCommentsAreReadWhole) {
    const struct {
        const char* name;
        bool dictionary;
    } cases[] = {{"63k-dict", true}, {"65k-dict", true}, {"1m-dict", true}, {"1m-array", false}, {"1m-words", false}};
    for (const auto& c : cases)
        for (const char* ext : {".tif", ".png"}) {
            const std::string name = std::string("long-comment-") + c.name;
            SCOPED_TRACE(name + ext);
            report(fixture(name + ext));
            const std::string comment = readFile(fixture(name + ".txt"));
            EXPECT_EQ(readFile(commentFile()), comment);
            const auto shown = field(prefTextViewString3);
            ASSERT_TRUE(shown);
            if (!c.dictionary) {
                EXPECT_EQ(*shown, "(null)");
                continue;
            }
            EXPECT_NE(shown->find("\"last-key\" = \"last-value\";"), std::string::npos) << shown->substr(0, 200);
        }
}

TEST_F(ImageReports, CommentOnlyInExifAuxIsNotUsed) {
    // The reader never puts a comment in {ExifAux}; the report must ignore one there.
    const Dictionary props{{"{ExifAux}", Value(Dictionary{{"UserComment", Value("<plist><dict/></plist>")}})}};
    EXPECT_EQ(mergedExifDictionary(props).count("UserComment"), 1u);
    report(fixture("lens.jpg"));  // no comment at all
    EXPECT_FALSE(field(prefTextViewString3));
    EXPECT_FALSE(std::filesystem::exists(commentFile()));
}

TEST_F(ImageReports, ASymbolicLinkAtTheCommentPathIsReplacedNotFollowed) {
    const std::string victim = scratch.write("victim.txt", "precious");
    std::filesystem::create_symlink(victim, commentFile());
    report(fixture("words.jpg"));
    EXPECT_EQ(readFile(victim), "precious");
    EXPECT_FALSE(std::filesystem::is_symlink(commentFile()));
    EXPECT_EQ(readFile(commentFile()), "Just some plain words");
}

// A shared $TMPDIR is passed over for the next private folder: the comment
// is shown, and nothing is written where others could swap it.
TEST_F(ImageReports, ASharedTemporaryDirectoryIsPassedOver) {
    const std::string runtime = scratch.file("runtime");
    std::filesystem::create_directory(runtime);
    ::chmod(runtime.c_str(), 0700);
    const ScopedEnv runtimeDir("XDG_RUNTIME_DIR", runtime);
    ::chmod(tmp.c_str(), 01777);
    const auto lines = report(fixture("plist-dict.jpg"));
    ::chmod(tmp.c_str(), 0700);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(prefixOf(lines[2]), "uc =");
    EXPECT_NE(field(prefTextViewString3).value_or("").find("album = \"Summer trip\";"), std::string::npos)
        << field(prefTextViewString3).value_or("(nothing)");
    EXPECT_TRUE(field(prefTextViewString4));
    EXPECT_TRUE(std::filesystem::is_empty(tmp));
    EXPECT_TRUE(std::filesystem::exists(runtime + "/usercomment.xml"));
}

TEST_F(ImageReports, BadInputRunsToTheEnd) {
    for (const char* name : {"truncated-exif.jpg", "truncated-scan.jpg", "junk-comment.jpg", "big-comment.tif",
                             "empty.jpg", "text.jpg", "folder.jpg"}) {
        SCOPED_TRACE(name);
        report(fixture(name));
        EXPECT_TRUE(field(prefTextViewString2));
        EXPECT_TRUE(field(prefTextViewString6));
    }
}

TEST(VeskInfoProperties, PrintsTheDictionaryAsJson) {
    const auto out = captureOutput({VESK_INFO_BIN, "--properties", sample("Apple_iPhone_6.jpg"), fixture("text.jpg")});
    ASSERT_TRUE(out);
    const auto newline = out->find('\n');
    ASSERT_NE(newline, std::string::npos);
    const std::string first = out->substr(0, newline), second = out->substr(newline + 1);
    EXPECT_EQ(first.rfind("{\"path\": \"" + sample("Apple_iPhone_6.jpg") + "\", \"properties\": {\"ColorModel\": \"RGB\"", 0), 0u);
    EXPECT_NE(first.find("\"{MakerApple}\": {"), std::string::npos);
    EXPECT_NE(first.find("\"Latitude\": 40.44697222222222"), std::string::npos);
    EXPECT_EQ(second, "{\"path\": \"" + fixture("text.jpg") + "\", \"properties\": null}\n");
}

// What the status line is told of each image report: one outcome per file,
// after the store has the report; a table of every kind of ending.
TEST_F(ImageReports, EachOutcomeIsToldInPlainWords) {
    std::vector<ReportOutcome> told;
    inspector->setOutcomeHandler([&](const ReportOutcome& o) { told.push_back(o); });
    const std::string locked = scratch.write("locked.jpg", readFile(sample("Canon_DIGITAL_IXUS_400.jpg")));
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    std::filesystem::create_directory(scratch.path() / "Folder");
    const struct {
        std::string path;
        std::string text;
        std::vector<std::string> notes;
        bool failed;
    } cases[] = {
        {sample("Canon_DIGITAL_IXUS_400.jpg"), "Image metadata shown", {}, false},
        {scratch.write("notes.txt", "plain words"), "No image metadata found", {}, true},
        {scratch.file("gone.jpg"), "No such file", {}, true},
        {locked, "Cannot read: permission denied", {}, true},
        {(scratch.path() / "Folder").string(), "Cannot read: is a directory", {}, true},
        {fixture("big-comment.tif"), "Image metadata shown", {"1 tag texts cut to 64 KB"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        told.clear();
        store->set(prefCurFilePath, "/before");
        {
            const PermissionsBind asAUser;
            inspector->performGetImageInfo(c.path);
        }
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0], (ReportOutcome{c.path, c.text, c.notes, c.failed}));
        // The store is left as it was: a missing file changes nothing.
        EXPECT_EQ(store->get(prefCurFilePath), c.text == "No such file" ? "/before" : c.path);
    }
    EXPECT_EQ(statusText(ReportOutcome{fixture("big-comment.tif"), "Image metadata shown", {"1 tag texts cut to 64 KB"}}),
              "big-comment.tif: Image metadata shown (cut short: 1 tag texts cut to 64 KB)");
    told.clear();
    inspector->performGetImageInfo(std::nullopt);
    EXPECT_TRUE(told.empty());
}

// However the comment folder lets the report down, the comment is shown
// within a second, and the log says what became of its file.
TEST_F(ImageReports, TheCommentIsShownWhateverItsFolderDoes) {
    std::optional<StoppedLockHolder> holder;
    std::optional<PermissionsBind> bind;
    rlimit size{};
    ::getrlimit(RLIMIT_FSIZE, &size);
    const rlimit tiny{8, size.rlim_max};
    const std::vector<std::tuple<const char*, std::function<void()>, const char*>> cases = {
        {"lock held by a stopped process", [&] { holder.emplace(tmp.string()); }, "held by another process"},
        {"read-only folder", [&] { bind.emplace(), ::chmod(tmp.c_str(), 0500); }, "writing error = cannot create a file in"},
        // Past the limit a write fails with EFBIG, as on a full disk with ENOSPC.
        {"no room (a file size limit)", [&] { ::setrlimit(RLIMIT_FSIZE, &tiny); }, "writing error = cannot write"},
    };
    const auto ignored = ::signal(SIGXFSZ, SIG_IGN);
    for (const auto& [what, spoil, logSays] : cases) {
        SCOPED_TRACE(what);
        spoil();
        const auto start = std::chrono::steady_clock::now();
        std::string log;
        for (const auto& line : report(fixture("plist-dict.jpg"))) log += line + "\n";
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        holder.reset(), bind.reset(), ::setrlimit(RLIMIT_FSIZE, &size), ::chmod(tmp.c_str(), 0700);
        EXPECT_NE(field(prefTextViewString3).value_or("").find("album = \"Summer trip\";"), std::string::npos);
        EXPECT_NE(log.find(logSays), std::string::npos) << log;
        for (const auto& entry : std::filesystem::directory_iterator(tmp))  // nothing of its own left behind
            EXPECT_EQ(entry.path().filename().string().rfind("usercomment-", 0), std::string::npos);
    }
    ::signal(SIGXFSZ, ignored);
}
