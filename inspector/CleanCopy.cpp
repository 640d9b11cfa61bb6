// SPDX-License-Identifier: GPL-3.0-or-later
#include "inspector/CleanCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "inspector/ImageReport.h"
#include "inspector/Summary.h"
#include "platform/FileDescriptor.h"
#include "platform/FileSystem.h"
#include "platform/image/ExivReader.h"
#include "platform/image/ImageSource.h"

namespace vesk {

namespace pf = platform;
namespace img = platform::image;

namespace {

// The privacy line's items that say where.
bool isPlaceItem(const PrivacyItem& item) {
    return item.label == "GPS position" || item.label == "place names" ||
           item.label == "location in the maker note" || item.label == "place names in XMP";
}

bool nonEmpty(const pf::Dictionary& properties, const char* group) {
    const auto it = properties.find(group);
    if (it == properties.end()) return false;
    const auto* d = it->second.get<pf::Dictionary>();
    return d && !d->empty();
}

// What the copy at `path` still holds of the kind `level` removes, read as
// any report reads it; empty when nothing is left.
std::string remainder(const std::string& path, CleanLevel level, const pf::Log& log) {
    std::string packet;
    const auto properties = readImageProperties(path, log, nullptr, &packet);
    if (!properties) return "the copy could not be read back";
    const auto xmp = img::xmpProperties(packet);
    const Summary summary = summarizeImage(*properties, xmp);
    std::vector<std::string> left;
    for (const auto& item : summary.privacy)
        if (level == CleanLevel::All || isPlaceItem(item)) left.push_back(item.label);
    if (nonEmpty(*properties, pf::kImagePropertyGPSDictionary)) left.push_back("GPS values");
    if (commentNamesPlace(*properties)) left.push_back("a comment naming a place");
    for (const auto& [key, value] : xmp)
        if (key.rfind("exif.GPS", 0) == 0 || (level == CleanLevel::All && !value.empty())) {
            left.push_back("XMP " + key);
            break;
        }
    if (level == CleanLevel::All) {
        if (nonEmpty(*properties, pf::kImagePropertyIPTCDictionary)) left.push_back("IPTC");
        for (const auto& [key, value] : *properties)
            if (key.rfind("{Maker", 0) == 0) left.push_back("a maker note");
    }
    left.erase(std::unique(left.begin(), left.end()), left.end());
    std::string text;
    for (const auto& item : left) text += (text.empty() ? "" : ", ") + item;
    return text;
}

CleanOutcome refused(std::string why) {
    CleanOutcome outcome;
    outcome.error = std::move(why);
    return outcome;
}

}  // namespace

std::optional<CleanLevel> cleanLevelNamed(const std::string& name) {
    if (name == "location") return CleanLevel::Location;
    if (name == "all") return CleanLevel::All;
    return std::nullopt;
}

std::string cleanCopyName(const std::string& path) {
    const std::string dir = pf::deletingLastPathComponent(path);
    std::string name = path.substr(dir.empty() ? 0 : dir.size() + (dir == "/" ? 0 : 1));
    const std::string ext = pf::pathExtension(name);
    const std::string stem = ext.empty() || ext.size() + 1 >= name.size() ? name : name.substr(0, name.size() - ext.size() - 1);
    const std::string clean = stem + " (clean)" + (stem == name ? "" : "." + ext);
    return dir.empty() ? clean : pf::appendingPathComponent(dir, clean);
}

std::optional<std::string> whyNotCleanable(const std::string& path) {
    const pf::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st{};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return "it cannot be read as a file";
    std::uint8_t head[32] = {};
    const std::size_t got = pf::readAt(fd.get(), head, sizeof head, 0);
    auto format = img::cleanableFormat(pf::ByteSpan(head, got));
    if (!format) return format.error();
    return std::nullopt;
}

CleanOutcome saveCleanCopy(const std::string& source, const std::string& destination, CleanLevel level,
                           const pf::Log& log) {
    struct stat original{}, target{};
    if (::stat(source.c_str(), &original) != 0 || !S_ISREG(original.st_mode))
        return refused("it cannot be read as a file");
    // Through a link, a second name or a relative path: never the original.
    if (::stat(destination.c_str(), &target) == 0 && target.st_dev == original.st_dev &&
        target.st_ino == original.st_ino)
        return refused("the copy's path " + destination + " is the original itself");
    if (static_cast<std::uint64_t>(original.st_size) > img::kMaxCleanBytes)
        return refused("the file is larger than " + img::sizeText(img::kMaxCleanBytes) + ", the most Vesk cleans");
    if (auto why = whyNotCleanable(source)) return refused(*why);
    // Exiv2's writer reads the whole file, without the caps the report puts
    // on it: a file the report could not read within its budgets is not
    // handed to it.
    bool placeInComment = false;
    {
        const auto image = pf::ImageSource::createWithPath(source);
        const auto properties = image ? image->copyPropertiesAtIndex(0) : std::nullopt;
        if (!properties) return refused("Vesk cannot read it as an image");
        // A comment that names a place goes with the location, all of it:
        // the place cannot be cut out of it alone in every format.
        placeInComment = level == CleanLevel::Location && commentNamesPlace(*properties);
        // Texts cut for display cost the writer nothing; values left unread do.
        const std::string& cut = image->budgetCut();
        if (cut.find("left out") != std::string::npos || cut.find("not read") != std::string::npos ||
            cut.find("only the first") != std::string::npos)
            return refused("its metadata is larger than Vesk reads (" + cut + ")");
    }
    const auto text = pf::readFileBounded(source, img::kMaxCleanBytes);
    if (!text) return refused("it cannot be read as a file");
    const pf::ByteSpan bytes(reinterpret_cast<const std::uint8_t*>(text->data()), text->size());
    const auto format = img::cleanableFormat(bytes);
    if (!format) return refused(format.error());

    auto cleaned = img::cleanWithExiv2(bytes, *format, level, placeInComment);
    if (!cleaned) return refused(cleaned.error());
    const auto before = img::codedImageData(bytes, *format);
    const auto after = img::codedImageData(cleaned->bytes, *format);
    if (!before) return refused(before.error());
    if (!after || *after != *before) return refused("the copy's picture data would differ from the original's");

    std::string error;
    auto staged = pf::StagedFile::write(destination, cleaned->bytes.data(), cleaned->bytes.size(),
                                        original.st_mode & 0666, error);
    if (!staged) return refused(error);
    if (const auto left = remainder(staged->temporaryPath(), level, log); !left.empty())
        return refused("the copy still held " + left + "; it was removed");
    if (auto failed = staged->commit()) return refused(*failed);
    CleanOutcome outcome;
    outcome.saved = true;
    outcome.removed = std::move(cleaned->removed);
    return outcome;
}

std::string removedText(const CleanOutcome& outcome) {
    std::string text;
    for (const auto& item : outcome.removed) text += (text.empty() ? "" : ", ") + item;
    return text.empty() ? "nothing to remove" : "removed " + text;
}

std::string cleanStatusText(const std::string& copyPath, CleanLevel level) {
    return level == CleanLevel::Location
               ? "Saved a copy without location: " + copyPath + "; nothing about where remains"
               : "Saved a copy without metadata: " + copyPath + "; only orientation, colour and size remain";
}

}  // namespace vesk
