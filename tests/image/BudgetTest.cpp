// SPDX-License-Identifier: GPL-3.0-or-later
// No image may cost more than a second and 100 MB or print more than 1 MB:
// one table per kind of input that once broke those bounds, each asserting
// that the output stays small and that the cut was told in one log line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "../TestSupport.h"
#include "HostileImages.h"
#include "ImageTestSupport.h"
#include "inspector/ImageReport.h"
#include "platform/image/ExivReader.h"
#include "platform/image/ImageSource.h"
#include "platform/image/JpegHeader.h"
#include "platform/image/TiffValueCaps.h"

using namespace vesk;
using namespace vesk::platform;
using namespace vesk::platform::image;
using namespace vesk::test;

namespace {

struct Outcome {
    std::optional<Dictionary> properties;
    std::vector<std::string> budgetLines;
    std::size_t textBytes = 0;  // the dictionary as the window shows it
    long rssGrowthKb = 0;
};

Outcome inspect(const std::string& path) {
    CaptureLogSink sink;
    const Log log(sink);
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    Outcome out;
    out.properties = readImageProperties(path, log);
    ::getrusage(RUSAGE_SELF, &after);
    out.rssGrowthKb = after.ru_maxrss - before.ru_maxrss;
    for (const auto& line : sink.lines())
        if (line.find("Image budget: ") != std::string::npos || line.find("budget cut ") != std::string::npos)
            out.budgetLines.push_back(line);
    if (out.properties) out.textBytes = describe(Value(*out.properties)).size();
    return out;
}

const std::string* text(const Dictionary& props, const char* dict, const char* key) {
    const Dictionary* d = sub(props, dict);
    if (!d) return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : it->second.get<std::string>();
}

constexpr std::size_t kMaxShownBytes = 1 << 20;
constexpr long kMaxGrowthKb = 100 * 1024;

}  // namespace

// Many entries naming one data block: each copy is charged, so the file
// costs what the budget allows, however many entries share the block.
TEST(Budgets, TagsSharingOneDataBlock) {
    ScratchDir dir;
    struct Case {
        const char* name;
        std::function<std::string(const std::filesystem::path&)> make;
        const char* cutSays;
    };
    const Case cases[] = {
        {"jpeg of 720 tags over one 55 KB block",
         [](const auto& p) { return hostile::writeSparse(p, hostile::sharedBlockJpeg(), hostile::sharedBlockJpeg().size()); },
         "tags left out past 256 KB"},
        {"tiff of 250 tags over one 1 MB block",
         [](const auto& p) {
             const std::string t = hostile::sharedBlockTiff(250, 1 << 20);
             return hostile::writeSparse(p, t, t.size());
         },
         "TIFF values past 8192 KB not read"},
        {"tiff of 250 tags over one 15 MB block (zeros, sparse)",
         [](const auto& p) {
             const std::string t = hostile::sharedBlockTiff(250, 15 << 20, true);
             return hostile::writeSparse(p, t, t.size() + (15 << 20));
         },
         "TIFF values past 8192 KB not read"},
        {"canon maker note of 250 tags over one 15 MB block (zeros, sparse)",
         [](const auto& p) {
             const std::string t = hostile::sharedBlockCanonTiff(250, 15 << 20);
             return hostile::writeSparse(p, t, t.size() + (15 << 20));
         },
         "TIFF values past 8192 KB not read"},
        {"apple maker note of 20,000 texts over one 700 KB block",
         [](const auto& p) {
             const std::string t = hostile::sharedBlockAppleTiff(20000, 700 << 10);
             return hostile::writeSparse(p, t, t.size());
         },
         "tags left out past 256 KB"},
        {"tiff of one 3 MB text",
         [](const auto& p) {
             const std::string t = hostile::sharedBlockTiff(1, 3 << 20);
             return hostile::writeSparse(p, t, t.size());
         },
         "1 tag texts cut to 64 KB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome out = inspect(c.make(dir.path() / "hostile"));
        ASSERT_TRUE(out.properties);
        EXPECT_LT(out.textBytes, kMaxShownBytes / 2);
        EXPECT_LT(out.rssGrowthKb, kMaxGrowthKb);
        ASSERT_EQ(out.budgetLines.size(), 1u);
        EXPECT_NE(out.budgetLines[0].find(c.cutSays), std::string::npos) << out.budgetLines[0];
    }
}

TEST(Budgets, ATextPastItsBudgetIsCutAndSaysSo) {
    ScratchDir dir;
    const std::string t = hostile::sharedBlockTiff(1, 3 << 20);
    const Outcome out = inspect(hostile::writeSparse(dir.path() / "one.tif", t, t.size()));
    ASSERT_TRUE(out.properties);
    const std::string* shown = text(*out.properties, "{TIFF}", "4096");
    ASSERT_TRUE(shown);
    EXPECT_EQ(*shown, std::string(kMaxTagTextBytes, 'A') + "<... 3008 KB cut>");
}

// The JPEG walk's guard holds when there is no scan after the segments, and
// when there are more segments than it walks: what it found is what Exiv2
// gets, with the profile's pieces capped, never the whole file.
TEST(Budgets, TheJpegGuardHoldsWithoutAScan) {
    ScratchDir dir;
    struct Case {
        const char* name;
        unsigned pieces, fillers;
        bool scan;
        const char* cutSays;
    };
    const Case cases[] = {
        {"60 profile pieces, no scan", 60, 0, false, "JPEG segments past their budget not read"},
        {"60 profile pieces, then a scan", 60, 0, true, "JPEG segments past their budget not read"},
        {"5000 segments, then profile pieces", 60, 5000, true, "JPEG segments past the first 4096 not read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = hostile::iccPiecesJpeg(c.pieces, c.fillers, c.scan);
        const std::string path = hostile::writeSparse(dir.path() / "pieces.jpg", bytes, bytes.size());
        const Outcome out = inspect(path);
        ASSERT_TRUE(out.properties);
        EXPECT_LT(out.rssGrowthKb, kMaxGrowthKb);
        ASSERT_EQ(out.budgetLines.size(), 1u);
        EXPECT_NE(out.budgetLines[0].find(c.cutSays), std::string::npos) << out.budgetLines[0];

        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const FileBytes file(fd);
        const JpegHeader jpeg = readJpegHeader(file);
        const ExivMetadata meta = readJpegHeadWithExiv2(file, jpeg);
        ::close(fd);
        EXPECT_TRUE(meta.recognized);
        EXPECT_LE(meta.iccProfile.size(), 2u << 20);
        EXPECT_EQ(jpeg.segmentLimitReached, c.fillers > kMaxJpegSegments);
    }
}

// Formats some of whose readers in Exiv2 take what they are given whole (or
// as large as a chunk claims): Exiv2 sees only a window of the file.
TEST(Budgets, WholeReadFormatsGetOnlyAWindow) {
    ScratchDir dir;
    struct Case {
        const char* name;
        std::string head;
        std::uint64_t size;
    };
    const Case cases[] = {
        {"eps.eps", hostile::epsHead(), std::uint64_t{1} << 30},
        {"psd.psd", hostile::psdHead(), std::uint64_t{3} << 30},
        {"png.png", hostile::pngHead(), (std::uint64_t{1} << 31) + 64},
        {"crw.crw", hostile::crwHead(), std::uint64_t{1} << 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = hostile::writeSparse(dir.path() / c.name, c.head, c.size);
        const Outcome out = inspect(path);
        EXPECT_LT(out.rssGrowthKb, kMaxGrowthKb);
        EXPECT_LT(out.textBytes, kMaxShownBytes);
        const ExivMetadata meta = readWithExiv2(path);
        EXPECT_NE(meta.budgetCut.find("only the first 16 MB of"), std::string::npos) << meta.budgetCut;
        EXPECT_EQ(out.budgetLines.size(), 1u);
        // Within the window the same file is read whole, and nothing is cut.
        std::filesystem::resize_file(path, 4096);
        EXPECT_EQ(readWithExiv2(path).budgetCut, "");
    }
}

// The counts rewritten before Exiv2 reads a TIFF structure, with small budgets.
TEST(Budgets, TiffValueCapsRewriteOnlyWhatIsOverBudget) {
    struct Case {
        const char* name;
        std::string tiff;
        std::uint64_t maxText, maxTotal;
        std::uint64_t shortened, dropped;
        bool unchanged;
    };
    std::string loop = hostile::sharedBlockTiff(1, 8);
    loop.replace(8 + 2 + 12 * 3, 4, std::string("\x08\0\0\0", 4));  // IFD0's next IFD is itself
    const Case cases[] = {
        {"no TIFF", std::string(64, 'x'), 16, 100, 0, 0, true},
        {"within both budgets", hostile::sharedBlockTiff(4, 16), 16, 100, 0, 0, true},
        {"ten texts sharing 30 bytes", hostile::sharedBlockTiff(10, 30), 16, 100, 10, 5, false},
        {"one long text", hostile::sharedBlockTiff(1, 30), 16, 100, 1, 0, false},
        {"IFD0 naming itself as the next", loop, 16, 100, 0, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bytes(c.tiff.begin(), c.tiff.end());
        const TiffValueCaps caps = capTiffValues(bytes, c.maxText, c.maxTotal);
        EXPECT_EQ(caps.shortenedTexts, c.shortened);
        EXPECT_EQ(caps.droppedValues, c.dropped);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()) == c.tiff, c.unchanged);
        EXPECT_EQ(caps.textSizes.size(), c.shortened - c.dropped);
        for (const auto& [tagOf, size] : caps.textSizes) EXPECT_EQ(size, 30u);
    }
}

// Whatever a reader lets through, one rendering stops at 1 MB, says where,
// and keeps its shape: the JSON still parses.
TEST(RenderBudget, TextAndJsonStopAtOneMegabyteAndSaySo) {
    const auto wide = [] {
        Dictionary d;
        for (int i = 0; i < 200'000; ++i) d.emplace("key" + std::to_string(i), Value("value"));
        return Value(std::move(d));
    };
    const auto nested = [] {
        Array inner(5'000, Value("text"));
        Array outer(100, Value(inner));
        return Value(Dictionary{{"outer", Value(std::move(outer))}});
    };
    const struct {
        const char* what;
        std::function<Value()> make;
    } cases[] = {
        {"a dictionary of 200,000 keys", wide},
        {"arrays in arrays", nested},
        {"one 3 MB text", [] { return Value(Array{Value(std::string(3 << 20, 'x'))}); }},
        {"2 MB of data", [] { return Value(Dictionary{{"d", Value(Data(2 << 20, 7))}}); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Value value = c.make();
        bool cut = false;
        const std::string text = describe(value, cut);
        EXPECT_TRUE(cut);
        EXPECT_LT(text.size(), kMaxRenderedBytes + 4096);
        EXPECT_NE(text.find("<... cut at 1 MB>"), std::string::npos);
        const std::string json = toJson(&value);
        EXPECT_LT(json.size(), kMaxRenderedBytes + 4096);
        EXPECT_NE(json.find("<... cut at 1 MB>"), std::string::npos);
        EXPECT_TRUE(nlohmann::json::accept(json)) << json.substr(json.size() - 200);
    }
    bool cut = true;
    EXPECT_EQ(describe(Value(Array{Value("small")}), cut), "(\n    small\n)");
    EXPECT_FALSE(cut);
}

// The six fields share the 1 MB: a maker note that fills the first field
// leaves the merged maker field (the same values again) only the rest.
TEST(RenderBudget, TheSixFieldsTogetherStopAtOneMegabyte) {
    ScratchDir dir;
    Dictionary apple;
    for (int i = 0; i < 100'000; ++i) apple.emplace("key" + std::to_string(i), Value("value"));
    Dictionary props{{kImagePropertyMakerAppleDictionary, Value(std::move(apple))},
                     {kImagePropertyExifDictionary, Value(Dictionary{{"UserComment", Value("<plist/>")}})}};
    const ImageReport report = buildImageReport(std::move(props), dir.path().string());
    std::size_t total = 0;
    for (const auto& field : report.fields) total += field ? field->size() : 0;
    EXPECT_LT(total, kMaxRenderedBytes + 4096);
    ASSERT_TRUE(report.fields[5]);
    EXPECT_NE(report.fields[5]->find("<... cut at 1 MB>"), std::string::npos);
    EXPECT_NE(report.logLines.back().find("budget cut Properties, EXIF, Maker notes: text over 1 MB"), std::string::npos)
        << report.logLines.back();
}
