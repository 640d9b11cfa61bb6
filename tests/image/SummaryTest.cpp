// SPDX-License-Identifier: GPL-3.0-or-later
// The details view's reading of a report: what a photographer reads in the
// summary, what the privacy line claims, and the rows the tree and its filter
// show, on the samples and on copies exiftool writes tags into.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "../TestSupport.h"
#include "ImageTestSupport.h"
#include "inspector/ImageReport.h"
#include "inspector/Summary.h"
#include "platform/image/ExivReader.h"

namespace vesk::test {
namespace {

namespace pf = vesk::platform;

pf::Dictionary propertiesOf(const std::string& path) {
    TestServices services;
    auto props = readImageProperties(path, services.log);
    EXPECT_TRUE(props.has_value()) << path;
    return props.value_or(pf::Dictionary{});
}

std::string line(const Summary& s, const std::string& label) {
    for (const auto& l : s.lines)
        if (l.label == label) return l.text;
    return "";
}

std::vector<std::string> privacyLabels(const Summary& s) {
    std::vector<std::string> out;
    for (const auto& item : s.privacy) out.push_back(item.label);
    return out;
}

TEST(SummaryFormat, ExposureTimes) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0.025, "1/40 s"},   {1.0 / 8000, "1/8000 s"}, {1.0 / 3, "1/3 s"}, {0.5, "1/2 s"},
        {0.3, "0.3 s"},      {1, "1 s"},               {2.5, "2.5 s"},     {30, "30 s"},
        {0.0166667, "1/60 s"}, {0.004, "1/250 s"},
    };
    for (const auto& c : cases) EXPECT_EQ(exposureTimeText(c.seconds), c.text) << c.seconds;
}

TEST(SummaryFormat, ApertureAndFocalLength) {
    const struct {
        double f;
        const char* text;
    } apertures[] = {{2.2, "f/2.2"}, {8, "f/8"}, {5.6, "f/5.6"}, {2.75, "f/2.8"}, {1.0, "f/1"}};
    for (const auto& c : apertures) EXPECT_EQ(fNumberText(c.f), c.text) << c.f;

    const struct {
        double mm;
        std::optional<double> in35;
        const char* text;
    } focal[] = {
        {4.15, 57.0, "4.2 mm (57 mm in 35 mm)"},
        {50, 50.0, "50 mm"},  // a full-frame lens says it once
        {7.8, std::nullopt, "7.8 mm"},
        {24, 0.0, "24 mm"},   // 0 means unknown
    };
    for (const auto& c : focal) EXPECT_EQ(focalLengthText(c.mm, c.in35), c.text) << c.mm;
}

TEST(SummaryFormat, FlashCodes) {
    const struct {
        std::int64_t code;
        const char* text;
    } cases[] = {
        {0, "Did not fire"},        {1, "Fired"},
        {16, "Off, did not fire"},  {24, "Auto, did not fire"},
        {25, "Auto, fired"},        {9, "On, fired"},
        {32, "No flash function"},  {89, "Auto, fired, red-eye reduction"},
        {15, "On, fired, return detected"},
    };
    for (const auto& c : cases) EXPECT_EQ(flashText(c.code), c.text) << c.code;
}

TEST(SummaryFormat, DegreesMinutesSeconds) {
    const struct {
        double degrees;
        bool latitude;
        const char* text;
    } cases[] = {
        {40.4469722222222, true, "40°26′49.10″ N"},
        {-3.72475277777778, false, "3°43′29.11″ W"},
        {-33.8568, true, "33°51′24.48″ S"},
        {151.2153, false, "151°12′55.08″ E"},
        {0, true, "0°0′0.00″ N"},
        // 59.999″ carries into the minute rather than showing 60.00″.
        {10.0 + 59.0 / 60 + 59.9999 / 3600, true, "11°0′0.00″ N"},
    };
    for (const auto& c : cases) EXPECT_EQ(dmsText(c.degrees, c.latitude), c.text) << c.degrees;
    EXPECT_EQ(positionDecimalText({40.4469722222222, -3.72475277777778}), "40.446972, -3.724753");
}

TEST(SummaryFormat, FileSizes) {
    const struct {
        std::uint64_t bytes;
        const char* text;
    } cases[] = {{0, "0 bytes"},        {900, "900 bytes"},     {1536, "1.5 KB"},
                 {312 * 1024, "312 KB"}, {1957448, "1.9 MB"},   {3ull << 30, "3 GB"}};
    for (const auto& c : cases) EXPECT_EQ(fileSizeText(c.bytes), c.text) << c.bytes;
}

// What a user reads for each sample, checked against exiftool's reading of
// the same files (exiftool -n -GPSLatitude -GPSLongitude ... ).
TEST(SummarySamples, WhatAPhotographerReads) {
    const struct {
        const char* sample;
        const char* label;
        const char* text;
    } cases[] = {
        {"Apple_iPhone_6.jpg", "Camera", "Apple iPhone 6"},
        {"Apple_iPhone_6.jpg", "Lens", "iPhone 6 back camera 4.15mm f/2.2"},
        {"Apple_iPhone_6.jpg", "Exposure", "1/40 s · f/2.2 · ISO 32 · 4.2 mm (57 mm in 35 mm)"},
        {"Apple_iPhone_6.jpg", "Flash", "Off, did not fire"},
        {"Apple_iPhone_6.jpg", "Taken", "2015-04-10 20:12:23"},
        {"Apple_iPhone_6.jpg", "Altitude", "640 m above sea level"},
        {"Apple_iPhone_6.jpg", "Size", "3264 × 2448 (8.0 MP)"},
        {"Apple_iPhone_6.jpg", "File size", "1.9 MB"},
        {"Apple_iPhone_6.jpg", "Position", "40°26′49.10″ N, 3°43′29.11″ W (40.446972, -3.724753)"},
        // A HEIC reads as a JPEG does (values checked against exiftool).
        {"Apple_iPhone_11_Pro_Max.heic", "Camera", "Apple iPhone 11 Pro Max"},
        {"Apple_iPhone_11_Pro_Max.heic", "Lens", "iPhone 11 Pro Max back triple camera 4.25mm f/1.8"},
        {"Apple_iPhone_11_Pro_Max.heic", "Exposure", "1/391 s · f/1.8 · ISO 32 · 4.2 mm (26 mm in 35 mm)"},
        {"Apple_iPhone_11_Pro_Max.heic", "Taken", "2021-04-11 15:47:53 -05:00"},
        {"Apple_iPhone_11_Pro_Max.heic", "Size", "2566 × 3313 (8.5 MP)"},
        {"Apple_iPhone_11_Pro_Max.heic", "Position", "39°3′4.84″ N, 94°17′19.58″ W (39.051344, -94.288772)"},
        {"Canon_DIGITAL_IXUS_400.jpg", "Camera", "Canon DIGITAL IXUS 400"},
        {"Canon_DIGITAL_IXUS_400.jpg", "Flash", "Auto, did not fire"},
        {"Canon_DIGITAL_IXUS_400.jpg", "Lens", "7.4–22.2 mm"},  // its maker note's range; no model is written
        {"Canon_DIGITAL_IXUS_400.jpg", "Size", "100 × 75"},
        {"Nikon_COOLPIX_P6000_GPS.jpg", "Camera", "NIKON COOLPIX P6000"},
        {"Nikon_COOLPIX_P6000_GPS.jpg", "Position", "43°28′2.81″ N, 11°53′6.46″ E (43.467448, 11.885127)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(line(summarizeImage(propertiesOf(sample(c.sample))), c.label), c.text) << c.sample << " " << c.label;
}

TEST(SummarySamples, CanonIsoComesFromItsMakerNote) {
    const auto props = propertiesOf(sample("Canon_DIGITAL_IXUS_400.jpg"));
    const auto* exif = props.at("{Exif}").get<pf::Dictionary>();
    ASSERT_NE(exif, nullptr);
    ASSERT_EQ(exif->count("ISOSpeedRatings"), 0u) << "the sample's EXIF has no ISO; the fallback is not tested";
    EXPECT_NE(line(summarizeImage(props), "Exposure").find("ISO 50"), std::string::npos)
        << line(summarizeImage(props), "Exposure");
}

TEST(SummarySamples, PrivacyLineNamesWhatIsThereAndNothingElse) {
    const struct {
        const char* sample;
        std::vector<std::string> labels;
    } cases[] = {
        {"Nikon_COOLPIX_P6000_GPS.jpg", {"GPS position", "software"}},
        {"Apple_iPhone_6.jpg", {"GPS position", "software"}},
        {"Fujifilm_FinePix_E500.jpg", {"software"}},
        {"Canon_DIGITAL_IXUS_400.jpg", {"owner", "software"}},
        {"Apple_iPhone_11_Pro_Max.heic", {"GPS position", "software", "computer"}},
    };
    for (const auto& c : cases) {
        const auto props = propertiesOf(sample(c.sample));
        const Summary s = summarizeImage(props);
        EXPECT_EQ(privacyLabels(s), c.labels) << c.sample;
        // Every item leads to a row of the tree.
        const auto rows = propertyRows(props);
        for (const auto& item : s.privacy)
            EXPECT_TRUE(std::any_of(rows.begin(), rows.end(),
                                    [&](const PropertyRow& r) { return r.group == item.group && r.key == item.key; }))
                << c.sample << " " << item.label;
    }
}

// A copy with the owner's traces written by exiftool: each one is named.
// With them, the offset of the time the photo was taken.
TEST(SummarySamples, PrivacyLineAndTimeZoneOnWrittenTags) {
    ScratchDir dir;
    const std::string copy = dir.file("owned.jpg");
    std::filesystem::copy_file(sample("Fujifilm_FinePix_E500.jpg"), copy);
    ASSERT_TRUE(captureOutput({"exiftool", "-q", "-overwrite_original", "-Artist=Jane Roe", "-Copyright=(c) Jane",
                               "-SerialNumber=A1234", "-LensSerialNumber=L99", "-OwnerName=Jane", "-Software=",
                               "-OffsetTimeOriginal=+02:00", copy}));
    const Summary s = summarizeImage(propertiesOf(copy));
    // The time zone the camera knew is said with the date.
    EXPECT_EQ(line(s, "Taken"), "2006-08-17 09:24:48 +02:00");
    EXPECT_EQ(privacyLabels(s), (std::vector<std::string>{"camera serial number", "lens serial number", "owner",
                                                           "artist", "copyright"}));
}

// Each kind of place or person property, written by exiftool into a file of
// its own: the privacy line names it (never "nothing"), the item leads to its
// row, and XMP shows as a group of its own.
TEST(SummaryFixtures, EveryPlaceOrPersonPropertyIsNamed) {
    const struct {
        const char* fixture;
        const char* label;
    } cases[] = {
        {"plist-dict.jpg", "place or person in the comment"},
        {"privacy-xmp-city.jpg", "place names in XMP"},
        {"privacy-xmp-location.jpg", "place names in XMP"},
        {"privacy-xmp-shown.jpg", "place names in XMP"},
        {"privacy-xmp-created.jpg", "place names in XMP"},
        {"privacy-xmp-creator.jpg", "people named in XMP"},
        {"privacy-xmp-person.jpg", "people named in XMP"},
        {"privacy-xmp-face.jpg", "face region names"},
        {"privacy-serial.jpg", "camera serial number"},
        {"privacy-description.jpg", "a description in words"},
        {"privacy-xmp-description.jpg", "a description in words"},
        {"words.jpg", "a description in words"},
    };
    TestServices services;
    for (const auto& c : cases) {
        const Details d = detailsFor(fixture(c.fixture), ReportKind::Image, "", services.log);
        const auto labels = privacyLabels(d.summary);
        EXPECT_NE(std::find(labels.begin(), labels.end(), c.label), labels.end()) << c.fixture;
        for (const auto& item : d.summary.privacy)
            EXPECT_TRUE(std::any_of(d.rows.begin(), d.rows.end(),
                                    [&](const PropertyRow& r) { return r.group == item.group && r.key == item.key; }))
                << c.fixture << " " << item.label;
        const bool xmp = std::string(c.fixture).starts_with("privacy-xmp");
        EXPECT_EQ(std::any_of(d.rows.begin(), d.rows.end(), [](const PropertyRow& r) { return r.group == kXmpGroup; }),
                  xmp)
            << c.fixture;
    }
}

TEST(SummaryRows, ReadableAndRawValues) {
    const auto rows = propertyRows(propertiesOf(sample("Apple_iPhone_6.jpg")));
    const struct {
        const char* group;
        const char* key;
        const char* readable;
        const char* raw;
    } cases[] = {
        {"{Exif}", "Flash", "Off, did not fire", "16"},
        {"{Exif}", "ExposureTime", "1/40 s", "0.025"},
        {"{Exif}", "FocalLength", "4.2 mm", "4.15"},
        {"{Exif}", "MeteringMode", "Spot", "3"},
        {"{GPS}", "Latitude", "40°26′49.10″ N", nullptr},
        {"", "FileSize", "1.9 MB", "1957448"},
        {"{TIFF}", "ResolutionUnit", "inch", "2"},
        {"{Exif}", "ExposureBiasValue", "+1.33 EV", nullptr},
        {"{Exif}", "LensSpecification", "4.2 mm f/2.2", "(4.15, 4.15, 2.2, 2.2)"},
        {"", "Orientation", "top, left", "1"},
    };
    for (const auto& c : cases) {
        auto it = std::find_if(rows.begin(), rows.end(),
                               [&](const PropertyRow& r) { return r.group == c.group && r.key == c.key; });
        ASSERT_NE(it, rows.end()) << c.group << c.key;
        EXPECT_EQ(it->readable, c.readable) << c.key;
        if (c.raw) {
            EXPECT_EQ(it->raw, c.raw) << c.key;
        }
    }
    // Apple's documented numbers are named; the number stays in sight.
    const bool named = std::any_of(rows.begin(), rows.end(), [](const PropertyRow& r) {
        return r.group == "{MakerApple}" && r.name != r.key && r.name.find("(" + r.key + ")") != std::string::npos;
    });
    EXPECT_TRUE(named);
}

TEST(SummaryRows, FilterIsoOnTheIphones) {
    for (const char* photo : {"Apple_iPhone_6.jpg", "Apple_iPhone_11_Pro_Max.heic"}) {
        SCOPED_TRACE(photo);
        const auto rows = propertyRows(propertiesOf(sample(photo)));
        std::vector<PropertyRow> kept;
        for (const auto& r : rows)
            if (rowMatches(r, "iso")) kept.push_back(r);
        ASSERT_FALSE(kept.empty());
        EXPECT_LT(kept.size(), rows.size());
        EXPECT_TRUE(std::any_of(kept.begin(), kept.end(), [](const PropertyRow& r) { return r.key == "ISOSpeedRatings"; }));
        for (const auto& r : kept) {
            std::string all = r.group + "\n" + r.key + "\n" + r.name + "\n" + r.readable + "\n" + r.raw;
            std::transform(all.begin(), all.end(), all.begin(), [](unsigned char ch) { return std::tolower(ch); });
            EXPECT_NE(all.find("iso"), std::string::npos) << r.key;
        }
        EXPECT_TRUE(rowMatches(rows.front(), ""));
        // A group's name keeps the whole group: no key of {GPS} says GPS.
        const auto gps = std::count_if(rows.begin(), rows.end(), [](const PropertyRow& r) { return r.group == "{GPS}"; });
        const auto gpsKept = std::count_if(rows.begin(), rows.end(),
                                           [](const PropertyRow& r) { return r.group == "{GPS}" && rowMatches(r, "gPs"); });
        EXPECT_GT(gps, 3);
        EXPECT_EQ(gpsKept, gps);
    }
}

TEST(SummaryRows, JsonOfRowsEscapesText) {
    const std::vector<PropertyRow> rows{{"{TIFF}", "Artist", "Artist", "Jane \"JR\"\n", "\"Jane\""}};
    EXPECT_EQ(rowsJson(rows),
              "[{\"group\": \"{TIFF}\", \"key\": \"Artist\", \"value\": \"Jane \\\"JR\\\"\\n\", \"raw\": "
              "\"\\\"Jane\\\"\"}]\n");
}

TEST(SummaryOther, BundlesAndLibraries) {
    EXPECT_EQ(line(summarizeBundle("NSBundleExecutableArchitectureX86_64 \nNSBundleExecutableArchitectureARM64 \n"),
                   "Architectures"),
              "x86_64, arm64 (universal)");
    EXPECT_EQ(line(summarizeBundle("NSBundleExecutableArchitectureARM64 \n"), "Architecture"), "arm64");
    EXPECT_TRUE(summarizeBundle("").lines.empty());

    // What the file tool prints of the library fixtures, the path first.
    const Summary universal = summarizeLibrary(
        "/x/libvesk-universal.dylib: Mach-O universal binary with 2 architectures: [x86_64:\\012- Mach-O 64-bit "
        "x86_64 dynamically linked shared library, flags:<NOUNDEFS|DYLDLINK>] [\\012- arm64:\\012- Mach-O 64-bit "
        "arm64 dynamically linked shared library, flags:<NOUNDEFS|DYLDLINK>]\n",
        "/x/libvesk-universal.dylib");
    const std::vector<std::pair<std::string, std::string>> expected{
        {"Kind", "Mach-O universal binary with 2 architectures"},
        {"x86_64", "Mach-O 64-bit x86_64 dynamically linked shared library"},
        {"Flags", "NOUNDEFS, DYLDLINK"},
        {"arm64", "Mach-O 64-bit arm64 dynamically linked shared library"},
        {"Flags", "NOUNDEFS, DYLDLINK"},
    };
    std::vector<std::pair<std::string, std::string>> got;
    for (const auto& l : universal.lines) got.emplace_back(l.label, l.text);
    EXPECT_EQ(got, expected);
    const Summary thin = summarizeLibrary("/x/a.dylib: Mach-O 64-bit arm64 dynamically linked shared library", "/x/a.dylib");
    ASSERT_EQ(thin.lines.size(), 1u);
    EXPECT_EQ(thin.lines[0].text, "Mach-O 64-bit arm64 dynamically linked shared library");
    EXPECT_TRUE(summarizeLibrary("", "/x/a.dylib").lines.empty());
}

// Exiv2's readings for tags it knows; nothing where it would only repeat the value.
TEST(SummaryOther, ExivInterpretedTexts) {
    const struct {
        const char* key;
        pf::Value value;
        std::optional<std::string> text;
    } cases[] = {
        {"Exif.Photo.MeteringMode", pf::Value(5), "Multi-segment"},
        {"Exif.Photo.ExposureProgram", pf::Value(2), "Auto"},
        {"Exif.Image.ResolutionUnit", pf::Value(2), "inch"},
        {"Exif.Photo.FocalLength", pf::Value(4.15), "4.2 mm"},
        {"Exif.Photo.NoSuchTag", pf::Value(1), std::nullopt},
        {"Exif.Photo.MeteringMode", pf::Value("text"), std::nullopt},
        {"Exif.Image.Make", pf::Value("Apple"), std::nullopt},
        {"", pf::Value(1), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(pf::image::interpretedText(c.key, c.value), c.text) << c.key;
}

}  // namespace
}  // namespace vesk::test

namespace vesk::test {
namespace {

// Values no camera writes: each gives a quiet, bounded reading.
TEST(SummaryHostile, OutlandishValuesGiveQuietBoundedReadings) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* what;
        pf::Dictionary properties;
        const char* label;
        std::optional<std::string> text;  // nothing: the line is absent
    } cases[] = {
        {"infinite latitude", {{"{GPS}", pf::Dictionary{{"Latitude", inf}, {"Longitude", 1.0}}}}, "Position", std::nullopt},
        {"latitude past the pole", {{"{GPS}", pf::Dictionary{{"Latitude", 1e300}, {"Longitude", 1.0}}}}, "Position",
         std::nullopt},
        {"latitude as text", {{"{GPS}", pf::Dictionary{{"Latitude", "north"}, {"Longitude", 1.0}}}}, "Position",
         std::nullopt},
        {"not-a-number exposure", {{"{Exif}", pf::Dictionary{{"ExposureTime", nan}}}}, "Exposure", std::nullopt},
        {"huge automatic ISO factor",
         {{"{MakerCanon}", pf::Dictionary{{"CanonSi.ISOSpeed", 128}, {"AutoISO", 1000000000}}}}, "Exposure", "ISO 50"},
        {"blank camera names", {{"{TIFF}", pf::Dictionary{{"Make", "   "}, {"Model", std::string(3, '\0')}}}}, "Camera",
         std::nullopt},
        {"negative size", {{"PixelWidth", -5}, {"PixelHeight", 10}}, "Size", std::nullopt},
    };
    for (const auto& c : cases) {
        const Summary s = summarizeImage(c.properties);
        EXPECT_EQ(line(s, c.label).empty() ? std::nullopt : std::optional<std::string>(line(s, c.label)), c.text)
            << c.what;
        for (const auto& row : propertyRows(c.properties)) EXPECT_LE(row.readable.size(), 5000u) << c.what;
    }
}

TEST(SummaryHostile, RowsAndCellsStayBounded) {
    pf::Dictionary many;
    for (int i = 0; i < 30000; ++i) many.emplace(std::to_string(i), i);
    pf::Dictionary deep{{"leaf", 1}};
    for (int i = 0; i < 50; ++i) deep = pf::Dictionary{{"d", pf::Value(std::move(deep))}};
    const pf::Dictionary properties{{"{MakerX}", many}, {"{MakerDeep}", deep}, {"Long", std::string(100000, 'x')}};
    const auto rows = propertyRows(properties);
    EXPECT_LE(rows.size(), 20001u);
    EXPECT_GE(rows.size(), 20000u);
    const auto longRow = std::find_if(rows.begin(), rows.end(), [](const PropertyRow& r) { return r.key == "Long"; });
    ASSERT_NE(longRow, rows.end());
    EXPECT_LT(longRow->raw.size(), 5000u);
    EXPECT_NE(longRow->raw.find("more bytes"), std::string::npos);
}

}  // namespace
}  // namespace vesk::test
