// SPDX-License-Identifier: GPL-3.0-or-later
// The reader against exiftool (-n -j) on every sample and image fixture of
// every format read: the values both read must agree. A missing value on one side only is a
// disagreement too, except for an empty comment, which Vesk leaves out. ISO
// is asked for from EXIF only: exiftool otherwise falls back on maker notes,
// which Vesk keeps in the maker dictionaries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>

#include "ImageTestSupport.h"
#include "platform/image/ExivReader.h"
#include "platform/image/ImageSource.h"

using namespace vesk::platform;
using namespace vesk::test;

namespace {

// A JSON scalar from exiftool: text or number.
struct JsonScalar {
    std::optional<std::string> text;
    std::optional<double> number;
};
using JsonObject = std::map<std::string, JsonScalar>;

// exiftool -j prints a list of one flat object per file; only strings and
// numbers appear for the tags asked for. Nothing when there is no such object.
std::optional<JsonObject> firstObject(const std::string& json) {
    const auto doc = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (!doc.is_array() || doc.empty() || !doc.front().is_object()) return std::nullopt;
    JsonObject out;
    for (const auto& [key, value] : doc.front().items()) {
        JsonScalar scalar;
        if (value.is_string())
            scalar.text = value.get<std::string>();
        else if (value.is_number())
            scalar.number = value.get<double>();
        else
            return std::nullopt;
        out[key] = scalar;
    }
    return out;
}

const Value* find(const Dictionary& props, std::initializer_list<const char*> path) {
    const Dictionary* d = &props;
    const Value* v = nullptr;
    for (const char* key : path) {
        if (!d) return nullptr;
        auto it = d->find(key);
        if (it == d->end()) return nullptr;
        v = &it->second;
        d = v->get<Dictionary>();
    }
    return v;
}

std::optional<double> numberOf(const Value* v) {
    if (!v) return std::nullopt;
    if (const auto* d = v->get<double>()) return *d;
    if (const auto* i = v->get<std::int64_t>()) return static_cast<double>(*i);
    if (const auto* list = v->get<Array>(); list && !list->empty()) return numberOf(&list->front());
    return std::nullopt;
}

// exiftool writes invalid bytes as "?", Vesk as U+FFFD.
std::string asExiftoolText(std::string text) {
    for (std::size_t at; (at = text.find("\xEF\xBF\xBD")) != std::string::npos;) text.replace(at, 3, "?");
    return text;
}

// Every format compared, and how many of its samples and fixtures at least.
struct Format {
    const char* extension;
    int atLeast;
};
constexpr Format kFormats[] = {
    {".jpg", 17}, {".tif", 4}, {".jp2", 1},                       // Vesk's own headers and Exiv2
    {".heic", 5}, {".avif", 2},                                    // libheif
    {".jxl", 3},  {".cr3", 1},                                     // Vesk's box reader
    {".png", 1},  {".webp", 1}, {".psd", 1}, {".dng", 1},          // Exiv2 alone
};

// Files whose metadata exiftool cannot read itself are compared with the
// file they were made from: Debian's exiftool has no Brotli for 'brob' boxes.
const std::map<std::string, std::string> kOracles = {
    {"canon-brob.jxl", VESK_SOURCE_DIR "/samples/Canon_DIGITAL_IXUS_400.jpg"},
    {"plist-dict.jxl", VESK_IMAGE_FIXTURES "/plist-dict.jpg"},
};

std::vector<std::string> imageFiles() {
    std::vector<std::string> files;
    for (const auto& dir : {std::string(VESK_SOURCE_DIR "/samples"), std::string(VESK_IMAGE_FIXTURES)})
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            const std::string ext = entry.path().extension().string();
            const bool known = std::any_of(std::begin(kFormats), std::end(kFormats),
                                           [&](const Format& f) { return ext == f.extension; });
            if (entry.is_regular_file() && known) files.push_back(entry.path());
        }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

TEST(ExiftoolDifferential, EveryImageAgreesOnTheCommonTags) {
    const auto files = imageFiles();
    ASSERT_GE(files.size(), 40u);
    std::map<std::string, int> compared;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const auto oracle = kOracles.find(std::filesystem::path(file).filename().string());
        const std::string asked = oracle == kOracles.end() ? file : oracle->second;
        const auto json = captureOutput({"exiftool", "-n", "-j", "-Make", "-Model", "-DateTimeOriginal",
                                         "-ExposureTime", "-FNumber", "-EXIF:ISO", "-FocalLength", "-ImageWidth",
                                         "-ImageHeight", "-GPSLatitude", "-GPSLongitude", "-UserComment",
                                         "-EXIF:LensModel", "--", asked});
        ASSERT_TRUE(json) << "exiftool did not run";
        const auto source = ImageSource::createWithPath(file);
        ASSERT_TRUE(source);
        const Dictionary props = source->copyPropertiesAtIndex(0).value_or(Dictionary{});
        const auto theirs = firstObject(*json);
        if (!theirs) {
            // exiftool reads nothing from an empty file.
            EXPECT_TRUE(props.empty());
            continue;
        }
        const auto text = [&](const char* tag, std::initializer_list<const char*> ours) {
            auto it = theirs->find(tag);
            const Value* mine = find(props, ours);
            std::optional<std::string> expected;
            if (it != theirs->end())
                expected = it->second.text ? *it->second.text : std::to_string(static_cast<long long>(*it->second.number));
            std::optional<std::string> actual;
            if (mine && mine->get<std::string>()) actual = asExiftoolText(*mine->get<std::string>());
            // exiftool drops the blanks that pad fixed-width camera fields ("FinePix E500   ").
            while (actual && !actual->empty() && actual->back() == ' ') actual->pop_back();
            if (std::string(tag) == "UserComment" && expected && expected->empty()) expected.reset();
            // A text past the budget is cut, and ends saying how much was cut.
            if (expected && actual && expected->size() > image::kMaxTagTextBytes) {
                const auto mark = actual->rfind("<... ");
                ASSERT_NE(mark, std::string::npos) << tag;
                EXPECT_EQ(actual->substr(0, mark), expected->substr(0, mark)) << tag;
                return;
            }
            EXPECT_EQ(actual, expected) << tag;
        };
        const auto number = [&](const char* tag, std::initializer_list<const char*> ours, double sign = 1) {
            auto it = theirs->find(tag);
            const auto mine = numberOf(find(props, ours));
            if (it == theirs->end() || !it->second.number) {
                EXPECT_FALSE(mine) << tag << " only Vesk has it: " << *mine;
                return;
            }
            ASSERT_TRUE(mine) << tag << " only exiftool has it: " << *it->second.number;
            const double expected = *it->second.number;
            EXPECT_NEAR(*mine * sign, expected, std::max(1e-9, std::fabs(expected) * 1e-8)) << tag;
        };
        const auto hemisphere = [&](const char* ref, const char* negative) {
            const Value* v = find(props, {"{GPS}", ref});
            return v && v->get<std::string>() && *v->get<std::string>() == negative ? -1.0 : 1.0;
        };
        text("Make", {"{TIFF}", "Make"});
        text("Model", {"{TIFF}", "Model"});
        text("DateTimeOriginal", {"{Exif}", "DateTimeOriginal"});
        number("ExposureTime", {"{Exif}", "ExposureTime"});
        number("FNumber", {"{Exif}", "FNumber"});
        number("ISO", {"{Exif}", "ISOSpeedRatings"});
        number("FocalLength", {"{Exif}", "FocalLength"});
        number("ImageWidth", {"PixelWidth"});
        number("ImageHeight", {"PixelHeight"});
        number("GPSLatitude", {"{GPS}", "Latitude"}, hemisphere("LatitudeRef", "S"));
        number("GPSLongitude", {"{GPS}", "Longitude"}, hemisphere("LongitudeRef", "W"));
        text("UserComment", {"{Exif}", "UserComment"});
        text("LensModel", {"{Exif}", "LensModel"});
        ++compared[std::filesystem::path(file).extension().string()];
    }
    for (const Format& format : kFormats) EXPECT_GE(compared[format.extension], format.atLeast) << format.extension;
}
