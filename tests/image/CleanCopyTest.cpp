// SPDX-License-Identifier: GPL-3.0-or-later
// Copies without location or metadata, judged by exiftool (what is left, what
// -validate says) and ImageMagick (the pixels), and the faults a copy must
// survive without touching the original or leaving a partial file in place.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <cctype>
#include <set>

#include "../TestSupport.h"
#include "ImageTestSupport.h"
#include "inspector/CleanCopy.h"

namespace {

using vesk::test::captureOutput;
using vesk::test::fixture;
namespace fs = std::filesystem;

// exiftool's tags as "Group:Tag" -> value, without those about the file itself.
std::map<std::string, std::string> tagsOf(const std::string& path) {
    const auto out = captureOutput({"exiftool", "-j", "-a", "-G1", "-s", path});
    std::map<std::string, std::string> tags;
    if (!out) return tags;
    const auto json = nlohmann::json::parse(*out);
    for (const auto& [key, value] : json.at(0).items()) {
        const std::string group = key.substr(0, key.find(':'));
        if (key.find(':') == std::string::npos || group == "System" || group == "File" || group == "ExifTool" ||
            group == "Composite" || key == "XMP-x:XMPToolkit" || key == "RIFF:WebP_Flags")
            continue;
        tags[key] = value.dump();
    }
    return tags;
}

bool isPlace(const std::string& key) {
    for (const char* part : {"GPS", "XMP-photoshop:City", "XMP-photoshop:State", "XMP-photoshop:Country",
                             "XMP-iptcCore:Location", "XMP-iptcExt:Location", "IPTC:City", "IPTC:Sub-location",
                             "IPTC:Province-State", "IPTC:Country"})
        if (key.find(part) != std::string::npos) return true;
    return false;
}

// What "all" may leave: the picture's own description, not anyone's.
bool keptByAll(const std::string& key) {
    const std::string group = key.substr(0, key.find(':'));
    if (group == "GPS" || group == "IPTC" || group == "IFD1" || group.rfind("XMP", 0) == 0) return false;
    // A CR3's maker note; its compressor box says only how the raw is stored.
    if (group == "Canon" && key != "Canon:CompressorVersion") return false;
    // The colour profile's creator is its maker's, and the profile is kept.
    for (const char* personal : {":Make", ":Model", ":SerialNumber", ":Artist", "By-line", "Creator", "Person"})
        if (key.find(personal) != std::string::npos && group != "ICC-header") return false;
    return true;
}

std::set<std::string> warningsOf(const std::string& path) {
    std::set<std::string> lines;
    const auto out = captureOutput({"exiftool", "-validate", "-warning", "-a", "-s3", path});
    for (std::size_t at = 0; out && at < out->size();) {
        const auto end = out->find('\n', at);
        // Not the count ("3 Warnings (1 minor)"), which the lines below it tell.
        if (!std::isdigit(static_cast<unsigned char>((*out)[at]))) lines.insert(out->substr(at, end - at));
        at = end == std::string::npos ? out->size() : end + 1;
    }
    return lines;
}

// The decoded pixels' signature; HEIF and JPEG XL through their own decoders.
// The CR3 fixture has no pixels: its picture is the coded data compared by
// the cleaner itself.
std::optional<std::string> pixels(const vesk::test::ScratchDir& dir, const std::string& path) {
    if (path.ends_with(".cr3")) return "no pixels";
    const char* decoder = path.ends_with(".heic") ? "heif-convert" : path.ends_with(".jxl") ? "djxl" : nullptr;
    if (!decoder) return captureOutput({"identify", "-format", "%#", path});
    const std::string png = dir.file("decoded.png");
    if (!captureOutput({decoder, path, png})) return std::nullopt;
    auto signature = captureOutput({"identify", "-format", "%#", png});
    fs::remove(png);
    return signature;
}

struct Snapshot {
    std::string bytes;
    struct timespec mtime {};
    bool operator==(const Snapshot& o) const {
        return bytes == o.bytes && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
    }
};
Snapshot snapshot(const std::string& path) {
    struct stat st{};
    ::stat(path.c_str(), &st);
    return {vesk::test::readFile(path), st.st_mtim};
}

TEST(CleanCopy, ExiftoolFindsOnlyWhatEachLevelKeeps) {
    const struct {
        std::string source, name;
        std::vector<const char*> levels;
    } files[] = {
        {fixture("clean.jpg"), "clean.jpg", {"location", "all"}},
        {fixture("clean-extended.jpg"), "extended.jpg", {"all"}},
        {fixture("clean-mpf.jpg"), "clean-mpf.jpg", {"location", "all"}},  // its preview with a place of its own
        {fixture("clean.tif"), "clean.tif", {"location", "all"}},
        {fixture("clean.png"), "clean.png", {"location", "all"}},
        {fixture("clean.webp"), "clean.webp", {"location", "all"}},
        {fixture("clean.jp2"), "clean.jp2", {"location", "all"}},
        {vesk::test::sample("Apple_iPhone_11_Pro_Max.heic"), "iphone.heic", {"location", "all"}},
        {fixture("clean.jxl"), "clean.jxl", {"location", "all"}},
        {fixture("clean.cr3"), "clean.cr3", {"location", "all"}},
    };
    for (const auto& file : files) {
        for (const char* level : file.levels) {
            const std::string name = file.name;
            SCOPED_TRACE(name + " " + level);
            vesk::test::ScratchDir dir;
            const std::string original = dir.file(name);
            fs::copy_file(file.source, original);
            const Snapshot before = snapshot(original);
            captureOutput({VESK_INFO_BIN, "--clean", level, "-o", dir.file("out"), original});
            ASSERT_FALSE(fs::exists(dir.file("out")));  // -o must name an existing folder
            fs::create_directory(dir.file("out"));
            const auto line = captureOutput({VESK_INFO_BIN, "--clean", level, "-o", dir.file("out"), original});
            const std::string copy = dir.file("out/" + name);
            ASSERT_TRUE(line && fs::exists(copy)) << line.value_or("");
            EXPECT_NE(line->find(": removed "), std::string::npos) << *line;
            EXPECT_EQ(snapshot(original), before);

            const auto was = tagsOf(original), is = tagsOf(copy);
            ASSERT_TRUE(was.count("GPS:GPSLatitude")) << "the fixture lost its position";
            // A multi-picture file's preview is judged as the picture is.
            std::vector<std::map<std::string, std::string>> judged{is};
            if (is.count("MPImage2:PreviewImage")) {
                const std::string preview = dir.file("preview.jpg");
                captureOutput({"sh", "-c", "exiftool -b -PreviewImage \"$0\" > \"$1\"", copy, preview});
                judged.push_back(tagsOf(preview));
                EXPECT_TRUE(judged.back().count("IFD0:YCbCrPositioning")) << "the preview was not read";
            }
            for (const auto& tags : judged)
                for (const auto& [key, value] : tags) {
                    EXPECT_FALSE(isPlace(key)) << key << " remained";
                    if (std::string(level) == "all") {
                        EXPECT_TRUE(keptByAll(key)) << key << " remained";
                    }
                }
            if (std::string(level) == "location")
                for (const auto& [key, value] : was)
                    // A TIFF's strips and a multi-picture file's images may
                    // move; where they are is no tag's meaning.
                    if (!isPlace(key) && key != "IFD0:StripOffsets" && key.rfind("MPImage", 0) != 0) {
                        EXPECT_EQ(is.count(key) ? is.at(key) : "(gone)", value) << key;
                    }
            EXPECT_EQ(is.count("IFD0:Orientation"), was.count("IFD0:Orientation"));
            // Exiv2 writes a PNG's EXIF as a text chunk, which exiftool calls
            // non-standard: the one new remark allowed.
            for (const auto& warning : warningsOf(copy))
                EXPECT_TRUE(warningsOf(original).count(warning) ||
                            warning == "[minor] Non-standard EXIF in PNG Raw profile type exif chunk")
                    << warning;
            EXPECT_EQ(pixels(dir, copy), pixels(dir, original));
        }
    }
}

// Each fault leaves the original as it was and nothing under the copy's name
// but what was there before.
TEST(CleanCopy, FaultsLeaveTheOriginalAndNoPartialCopy) {
    const auto log = vesk::test::quietLog();
    const struct {
        const char* what;
        std::function<std::optional<std::string>(vesk::test::ScratchDir&, const std::string&, const std::string&)> run;
    } faults[] = {
        {"the copy is the original", [&](auto&, const std::string& o, const std::string&) {
             return std::optional(vesk::saveCleanCopy(o, o, vesk::CleanLevel::All, log).error); }},
        {"a link to the original", [&](auto&, const std::string& o, const std::string& copy) {
             fs::create_symlink(o, copy);
             return std::optional(vesk::saveCleanCopy(o, copy, vesk::CleanLevel::All, log).error); }},
        {"a second name of the original", [&](auto&, const std::string& o, const std::string& copy) {
             fs::create_hard_link(o, copy);
             return std::optional(vesk::saveCleanCopy(o, copy, vesk::CleanLevel::Location, log).error); }},
        {"a read-only folder", [&](auto&, const std::string& o, const std::string& copy) {
             fs::permissions(fs::path(copy).parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
             const vesk::test::PermissionsBind bind;
             const auto error = vesk::saveCleanCopy(o, copy, vesk::CleanLevel::Location, log).error;
             fs::permissions(fs::path(copy).parent_path(), fs::perms::owner_all);
             return std::optional(error); }},
        // A file size limit stands for a full disk (the write fails) and,
        // with its signal left to kill, for a copy killed as it is written.
        {"a full disk", [](auto&, const std::string& o, const std::string& copy) {
             struct sigaction ignore{}, old{};
             ignore.sa_handler = SIG_IGN;
             ::sigaction(SIGXFSZ, &ignore, &old);
             captureOutput({"prlimit", "--fsize=2000", VESK_INFO_BIN, "--clean", "location", "-o",
                            fs::path(copy).parent_path().string(), o});
             ::sigaction(SIGXFSZ, &old, nullptr);
             return std::optional<std::string>("failed"); }},
        {"killed while writing", [](auto&, const std::string& o, const std::string& copy) {
             for (const char* size : {"--fsize=1", "--fsize=1000", "--fsize=2000", "--fsize=3000"})
                 captureOutput({"prlimit", size, VESK_INFO_BIN, "--clean", "location", "-o",
                                fs::path(copy).parent_path().string(), o});
             return std::optional<std::string>("killed"); }},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.what);
        vesk::test::ScratchDir dir;
        const std::string original = dir.file("photo.jpg");
        fs::copy_file(fixture("clean.jpg"), original);
        fs::create_directory(dir.file("out"));
        const std::string copy = dir.file("out/photo.jpg");
        const Snapshot before = snapshot(original);
        const auto error = fault.run(dir, original, copy);
        EXPECT_FALSE(error.value_or("").empty());
        EXPECT_EQ(snapshot(original), before);
        // Only a name that was there before the copy, still naming the original.
        EXPECT_TRUE(!fs::exists(fs::symlink_status(copy)) || fs::equivalent(copy, original));
    }
}

// A user comment that is a property list naming a place goes with the
// location; one that names none, or plain words, stays.
TEST(CleanCopy, ACommentNamingAPlaceGoesWithTheLocation) {
    const struct {
        std::string name;
        bool goes;
    } files[] = {{"plist-dict.jpg", true}, {"plist-dict.heic", true}, {"plist-list.jpg", false}, {"words.jpg", false}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        vesk::test::ScratchDir dir;
        const auto outcome =
            vesk::saveCleanCopy(fixture(f.name), dir.file(f.name), vesk::CleanLevel::Location, vesk::test::quietLog());
        ASSERT_TRUE(outcome.saved) << outcome.error;
        EXPECT_EQ(tagsOf(dir.file(f.name)).count("ExifIFD:UserComment"), f.goes ? 0u : 1u);
        EXPECT_EQ(vesk::removedText(outcome).find("names a place") != std::string::npos, f.goes);
    }
}

TEST(CleanCopy, NamesAndRefusals) {
    EXPECT_EQ(vesk::cleanCopyName("/p/IMG_1.jpg"), "/p/IMG_1 (clean).jpg");
    EXPECT_EQ(vesk::cleanCopyName("photo"), "photo (clean)");
    EXPECT_EQ(vesk::cleanCopyName("/p/.hidden"), "/p/.hidden (clean)");
    // Refused before any work (the window's menu greys these), or tried and refused.
    const struct {
        std::string path;
        vesk::CleanLevel level;
        bool tried;
        std::string reason;
    } refused[] = {
        {fixture("canon-brob.jxl"), vesk::CleanLevel::Location, true, "compressed"},
        {fixture("clean-extended.jpg"), vesk::CleanLevel::Location, true, "extended XMP"},
        {fixture("timed.cr3"), vesk::CleanLevel::All, true, "timed metadata"},
        {VESK_SOURCE_DIR "/samples/README.md", vesk::CleanLevel::All, false, "not a format Vesk can clean"},
        {VESK_SOURCE_DIR "/samples", vesk::CleanLevel::All, false, "cannot be read as a file"},
    };
    for (const auto& r : refused) {
        vesk::test::ScratchDir dir;
        EXPECT_EQ(vesk::whyNotCleanable(r.path).has_value(), !r.tried) << r.path;
        const auto outcome = vesk::saveCleanCopy(r.path, dir.file("copy"), r.level, vesk::test::quietLog());
        EXPECT_FALSE(outcome.saved || fs::exists(dir.file("copy"))) << r.path;
        EXPECT_NE(outcome.error.find(r.reason), std::string::npos) << r.path << ": " << outcome.error;
    }
}

}  // namespace
