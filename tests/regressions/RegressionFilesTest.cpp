// SPDX-License-Identifier: GPL-3.0-or-later
// Every file in tests/regressions once crashed or hung a reader. Each is fed
// to every reader that takes files, and to the whole routing, which must all
// run to their end.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "../TestSupport.h"
#include "HostilePropertyLists.h"
#include "inspector/InfoKeys.h"
#include "inspector/ImageReport.h"
#include "inspector/ViewController.h"
#include "platform/PropertyList.h"
#include "platform/image/AppleMakerNote.h"
#include "platform/image/ImageSource.h"
#include "platform/macho/MachOReader.h"

using namespace vesk;
namespace fs = std::filesystem;

TEST(RegressionFiles, EveryReaderRunsToItsEnd) {
    const fs::path dir = fs::path(VESK_SOURCE_DIR) / "tests/regressions";
    test::ScratchDir tmp;
    test::ScopedEnv tmpdir("TMPDIR", tmp.path().string());
    auto store = std::make_shared<platform::MemoryUserDefaults>();
    test::TestServices t(store);
    auto inspector = std::make_shared<ViewController>(t.services());
    inspector->viewDidLoad();
    int files = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        const auto extension = entry.path().extension();
        if (!entry.is_regular_file() || name == "CMakeLists.txt" || extension == ".cpp" || extension == ".h") continue;
        SCOPED_TRACE(name);
        ++files;
        const std::string path = entry.path().string();
        (void)platform::dictionaryWithContentsOfFile(path);
        const std::string bytes = test::readFile(path);
        (void)platform::macho::parse(
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        (void)readImageProperties(path, t.log);
        inspector->performGetImageInfo(path);
        EXPECT_EQ(store->get(prefCurFilePath), path);
        EXPECT_TRUE(store->get(prefTextViewString2));
    }
    EXPECT_GT(files, 0);
}

TEST(RegressionFiles, ACommentListWithZeroBytesInItsTextsStillReads) {
    // Binary property lists may store texts holding a zero byte; reading one
    // once aborted the process inside libplist.
    const fs::path dir = fs::path(VESK_SOURCE_DIR) / "tests/regressions";
    for (const char* name : {"bplist-string-holding-zero-byte.bplist", "bplist-nested-string-holding-zero-byte.bplist"}) {
        SCOPED_TRACE(name);
        auto dict = platform::dictionaryWithContentsOfFile((dir / name).string());
        if (dict) {
            EXPECT_FALSE(platform::describe(platform::Value(*dict)).empty());
        }
    }
}

TEST(RegressionFiles, AFileExiv2TakesForAVideoIsNoImage) {
    // Exiv2's QuickTime reader never returned from this 81-byte file; videos
    // are no longer handed to its video readers.
    const fs::path file = fs::path(VESK_SOURCE_DIR) / "tests/regressions/exiv2-quicktime-box-of-endless-size.jpg";
    EXPECT_FALSE(readImageProperties(file.string(), test::quietLog()));
}

TEST(RegressionFiles, TagsSharingOneDataBlockAreChargedEachTime) {
    // 720 texts of this 64 KB JPEG name one 55 KB block: 2 s, 250 MB and
    // 68 MB of text once; now the budget cuts it and says so in one line.
    const fs::path file = fs::path(VESK_SOURCE_DIR) / "tests/regressions/exif-tags-sharing-one-data-block.jpg";
    platform::CaptureLogSink sink;
    const auto props = readImageProperties(file.string(), platform::Log(sink));
    ASSERT_TRUE(props);
    EXPECT_LT(platform::describe(platform::Value(*props)).size(), 512u << 10);
    ASSERT_EQ(sink.lines().size(), 1u);
    EXPECT_NE(sink.lines()[0].find("Image budget: "), std::string::npos);
}

namespace {

using Seconds = std::chrono::duration<double>;

// Only a runaway fails these tests (the old faults took tens of seconds, many
// gigabytes or a crash), with room for the sanitizer builds; the benchmark
// measures the one-second target in a release build.
constexpr double kRunawaySeconds = 10.0;

Seconds timed(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::steady_clock::now() - start;
}

bool logged(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

}  // namespace

TEST(RegressionFiles, TheSharedArraysFileIsTheGeneratorsList) {
    const fs::path file = fs::path(VESK_SOURCE_DIR) / "tests/regressions/bplist-shared-arrays-32-levels.bplist";
    EXPECT_EQ(test::readFile(file.string()), test::hostile::sharedBinaryArrays(32));
}

TEST(RegressionFiles, HostilePropertyListsAreRefusedQuicklyByEveryReportWithOneLogLine) {
    test::ScratchDir tmp;
    test::ScopedEnv tmpdir("TMPDIR", tmp.path().string());
    test::TestServices t;
    auto inspector = std::make_shared<ViewController>(t.services());
    inspector->viewDidLoad();
    for (const auto& list : test::hostile::kHostileLists) {
        SCOPED_TRACE(list.name);
        const std::string bytes = list.make();

        // As a user comment: written to usercomment.xml and read back.
        platform::Dictionary exif{{"UserComment", platform::Value(bytes)}};
        std::optional<platform::Dictionary> properties(
            platform::Dictionary{{platform::kImagePropertyExifDictionary, platform::Value(exif)}});
        ImageReport report;
        const Seconds commentTime = timed([&] { report = buildImageReport(properties, tmp.path().string()); });
        EXPECT_LT(commentTime.count(), kRunawaySeconds);
        EXPECT_EQ(report.fields[2], "(null)");
        EXPECT_EQ(std::count_if(report.logLines.begin(), report.logLines.end(),
                                [](const std::string& l) { return l.find("budget cut usercomment.xml: ") == 0; }),
                  1);

        // As a bundle's Info.plist (an Info.plist is read up to 1 MB).
        if (bytes.size() < (1u << 20)) {
            const std::string bundle = (tmp.path() / "Hostile.bundle").string();
            tmp.write("Hostile.bundle/Contents/Info.plist", bytes);
            auto& log = t.startLog();
            const Seconds bundleTime = timed([&] { inspector->performGetBundleInfo(bundle); });
            EXPECT_LT(bundleTime.count(), kRunawaySeconds);
            EXPECT_TRUE(logged(log.lines(), "budget cut ")) << bundle;
            EXPECT_EQ(t.store().get(prefTextViewString1), std::string());
        }

        // As a list in an Apple maker note, which holds binary ones only.
        if (!bytes.starts_with("bplist")) continue;
        std::optional<platform::Dictionary> apple;
        const auto note = test::hostile::appleNoteHolding(bytes);
        const Seconds noteTime = timed([&] { apple = platform::image::readAppleMakerNote(note); });
        EXPECT_LT(noteTime.count(), kRunawaySeconds);
        ASSERT_TRUE(apple);
        EXPECT_FALSE(apple->count("RunTime"));
        EXPECT_TRUE(apple->count(platform::image::kAppleMakerNoteBudgetCutsKey));
    }
}

TEST(RegressionFiles, AnAppleNoteWhoseListsAllShareOneExpansionIsCutOnce) {
    // 16 entries pointing at the same 15-level list of 65,537 objects: each
    // alone is within budget, together they are not.
    const std::string list = test::hostile::sharedBinaryArrays(15);
    std::string note = std::string("Apple iOS\0\0\x01MM", 14) + std::string("\0\x10", 2);
    const std::uint32_t at = 14 + 2 + 16 * 12 + 4;
    for (std::uint16_t tag = 0x100; tag < 0x110; ++tag)
        note += std::string{static_cast<char>(tag >> 8), static_cast<char>(tag), 0, 7} +
                test::hostile::bigEndian32(static_cast<std::uint32_t>(list.size())) + test::hostile::bigEndian32(at);
    note += std::string(4, '\0') + list;
    std::optional<platform::Dictionary> apple;
    const std::vector<std::uint8_t> bytes(note.begin(), note.end());
    const Seconds took = timed([&] { apple = platform::image::readAppleMakerNote(bytes); });
    EXPECT_LT(took.count(), kRunawaySeconds);
    ASSERT_TRUE(apple);
    EXPECT_TRUE(apple->count("256"));
    EXPECT_FALSE(apple->count("257"));
    EXPECT_EQ(apple->at(platform::image::kAppleMakerNoteBudgetCutsKey),
              platform::Value("257: property list over budget (expanded objects 100001: more than 100000), "
                              "and 14 more lists"));
}

TEST(RegressionFiles, TheImageReportLogsAnAppleNoteCutByABudgetAndShowsTheRest) {
    const fs::path file = fs::path(VESK_SOURCE_DIR) / "tests/regressions/apple-maker-note-shared-arrays-32-levels.jpg";
    test::TestServices t;
    auto& log = t.startLog();
    std::optional<platform::Dictionary> props;
    const Seconds took = timed([&] { props = readImageProperties(file.string(), t.log); });
    EXPECT_LT(took.count(), kRunawaySeconds);
    ASSERT_TRUE(props);
    EXPECT_FALSE(props->count(platform::kImagePropertyMakerAppleDictionary));
    EXPECT_EQ(props->at(platform::kImagePropertyTIFFDictionary),
              platform::Value(platform::Dictionary{{"Make", platform::Value("Apple")}}));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("budget cut {MakerApple} RunTime: property list over budget (expanded "),
              std::string::npos)
        << log.lines()[0];
}
