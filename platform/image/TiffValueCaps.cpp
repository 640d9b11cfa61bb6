#include "platform/image/TiffValueCaps.h"

#include <algorithm>
#include <set>
#include <vector>

#include "platform/Bytes.h"
#include "platform/image/TiffValue.h"

namespace vesk::platform::image {
namespace {

// A loop of IFD pointers, or thousands of sub-IFDs, must not keep the walk busy.
constexpr std::size_t kMaxIfds = 256;
constexpr std::uint32_t kMaxSubIfds = 32;

constexpr std::uint16_t kTagSubIfds = 0x014A;
constexpr std::uint16_t kTagExifIfd = 0x8769;
constexpr std::uint16_t kTagGpsIfd = 0x8825;
constexpr std::uint16_t kTagInteropIfd = 0xA005;

struct Entry {
    std::uint64_t countAt;  // offset of the entry's count field
    std::uint64_t size;     // bytes of its value
    std::uint16_t type, tag;
    const char* group;
};

void writeU32(std::span<std::uint8_t> bytes, std::uint64_t at, std::uint32_t v, bool be) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (be ? 8 * (3 - i) : 8 * i));
}

}  // namespace

TiffValueCaps capTiffValues(std::span<std::uint8_t> tiff, std::uint64_t maxTextBytes, std::uint64_t maxTotalBytes) {
    TiffValueCaps caps;
    if (tiff.size() < 8) return caps;
    const bool be = tiff[0] == 'M' && tiff[1] == 'M';
    if (!be && !(tiff[0] == 'I' && tiff[1] == 'I')) return caps;
    if (readU16(tiff, 2, be) != 42) return caps;

    // Exiv2's names for the directories whose tags are shown; others only need counting.
    std::vector<std::pair<std::uint64_t, const char*>> pending{{*readU32(tiff, 4, be), "Image"}};
    std::set<std::uint64_t> seen;
    std::vector<Entry> entries;
    while (!pending.empty() && seen.size() < kMaxIfds) {
        const auto [at, group] = pending.back();
        pending.pop_back();
        if (!seen.insert(at).second) continue;
        const auto count = readU16(tiff, at, be);
        if (!count) continue;
        const std::string_view name(group);
        for (std::uint64_t i = 0; i < *count; ++i) {
            const std::uint64_t e = at + 2 + 12 * i;
            const auto tag = readU16(tiff, e, be), type = readU16(tiff, e + 2, be);
            const auto n = readU32(tiff, e + 4, be), value = readU32(tiff, e + 8, be);
            if (!tag || !type || !n || !value) break;
            const std::uint64_t size = std::uint64_t{tiffTypeSize(*type)} * *n;
            if (*tag == kTagExifIfd && *n == 1) pending.emplace_back(*value, "Photo");
            if (*tag == kTagGpsIfd && *n == 1) pending.emplace_back(*value, "GPSInfo");
            if (*tag == kTagInteropIfd && *n == 1) pending.emplace_back(*value, "Iop");
            if (*tag == kTagSubIfds && (*type == TIFF_LONG || *type == TIFF_IFD)) {
                for (std::uint32_t k = 0; k < std::min(*n, kMaxSubIfds); ++k) {
                    const auto sub = *n == 1 ? value : readU32(tiff, std::uint64_t{*value} + 4 * k, be);
                    if (sub) pending.emplace_back(*sub, "SubImage");
                }
            }
            if (size > 4) entries.push_back({e + 4, size, *type, *tag, group});
        }
        // IFD0's chain, as far as Exiv2 follows it: IFD1 holds the thumbnail.
        const char* next = name == "Image" ? "Thumbnail" : name == "Thumbnail" ? "Image2" : name == "Image2" ? "Image3" : nullptr;
        if (next)
            if (const auto to = readU32(tiff, at + 2 + 12 * std::uint64_t{*count}, be); to && *to)
                pending.emplace_back(*to, next);
    }

    for (Entry& e : entries) {
        if (e.type != TIFF_ASCII || e.size <= maxTextBytes) continue;
        caps.textSizes[{e.group, e.tag}] = e.size;
        e.size = maxTextBytes + 1;
        writeU32(tiff, e.countAt, static_cast<std::uint32_t>(e.size), be);
        ++caps.shortenedTexts;
    }
    // Small values first: one huge block must not crowd out every ordinary tag.
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.size < b.size; });
    std::uint64_t total = 0;
    for (const Entry& e : entries) {
        if (total + e.size <= maxTotalBytes) {
            total += e.size;
            continue;
        }
        writeU32(tiff, e.countAt, 0, be);
        ++caps.droppedValues;
        caps.droppedBytes += e.size;
        caps.textSizes.erase({e.group, e.tag});
    }
    return caps;
}

}  // namespace vesk::platform::image
