// Every file in tests/regressions once crashed or hung a reader. Each is fed
// to every reader that takes files, and to the whole routing, which must all
// run to their end.
#include <gtest/gtest.h>

#include <filesystem>

#include "../TestSupport.h"
#include "inspector/InfoKeys.h"
#include "inspector/ImageReport.h"
#include "inspector/ViewController.h"
#include "platform/PropertyList.h"
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
        if (!entry.is_regular_file() || name == "CMakeLists.txt" || entry.path().extension() == ".cpp") continue;
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
