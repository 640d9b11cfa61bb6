// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/TiffValueCaps.h"

#include <algorithm>
#include <optional>
#include <set>
#include <string_view>
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

constexpr std::uint16_t kTagMake = 0x010F;
constexpr std::uint16_t kTagMakerNote = 0x927C;

struct Entry {
    std::uint64_t countAt;  // offset of the entry's count field
    std::uint64_t size;     // bytes of its value
    std::uint16_t type, tag;
    const char* group;
    bool be;
};

// A directory to walk: where it is, how Exiv2 names its tags, its byte order
// and what its value offsets count from.
struct Ifd {
    std::uint64_t at;
    const char* group;
    bool be;
    std::uint64_t base = 0;
    bool inMakerNote = false;
};

bool startsWith(ByteSpan bytes, std::string_view prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// Where a maker note's directory lies, laid out as Exiv2 reads each maker's
// note (a signature, then an IFD whose offsets count from the TIFF header or
// from the note). Exiv2 copies these entries as it does the Exif ones, so a
// note of entries naming one block costs it the same. `at` is the note's
// offset in `tiff`; the Apple note is not Exiv2's to read.
std::optional<Ifd> makerNoteIfd(ByteSpan tiff, std::uint64_t at, std::uint64_t size, bool be, std::string_view make) {
    const ByteSpan note = tiff.subspan(at, size);
    const auto orderAt = [&](std::uint64_t i) -> std::optional<bool> {
        if (startsWith(note.subspan(std::min<std::uint64_t>(i, size)), "MM")) return true;
        if (startsWith(note.subspan(std::min<std::uint64_t>(i, size)), "II")) return false;
        return std::nullopt;
    };
    using namespace std::string_view_literals;
    if (startsWith(note, "Apple iOS"sv)) return std::nullopt;
    if (startsWith(note, "Nikon\0\2"sv)) {  // its own TIFF header at 10
        const auto order = orderAt(10);
        const auto first = order ? readU32(note, 14, *order) : std::nullopt;
        if (!first) return std::nullopt;
        return Ifd{at + 10 + *first, "Nikon3", *order, at + 10};
    }
    if (startsWith(note, "Nikon\0"sv)) return Ifd{at + 8, "Nikon1", be};
    if (startsWith(note, "OLYMPUS\0"sv) || startsWith(note, "OM SYSTEM\0"sv)) {
        const std::uint64_t header = note[1] == 'M' ? 16 : 12;
        const auto order = orderAt(header - 4);
        if (!order) return std::nullopt;
        return Ifd{at + header, "Olympus2", *order, at};
    }
    if (startsWith(note, "OLYMP\0"sv) || startsWith(note, "EPSON\0"sv) || startsWith(note, "MINOL\0"sv) ||
        startsWith(note, "CAMER\0"sv))
        return Ifd{at + 8, "Olympus", be};
    if (startsWith(note, "FUJIFILM"sv)) {
        const auto first = readU32(note, 8, false);
        if (!first) return std::nullopt;
        return Ifd{at + *first, "Fujifilm", false, at};
    }
    if (startsWith(note, "AOC\0"sv)) return Ifd{at + 6, "Pentax", orderAt(4).value_or(be)};
    if (startsWith(note, "PENTAX \0"sv)) {
        const auto order = orderAt(8);
        if (!order) return std::nullopt;
        return Ifd{at + 10, "PentaxDng", *order, at};
    }
    if (startsWith(note, "SONY DSC "sv) || startsWith(note, "SONY CAM "sv)) return Ifd{at + 12, "Sony1", be};
    if (startsWith(note, "Panasonic\0"sv)) return Ifd{at + 12, "Panasonic", be};
    if (startsWith(note, "SIGMA\0"sv) || startsWith(note, "FOVEON\0"sv)) return Ifd{at + 10, "Sigma", be};
    if (startsWith(note, "QVC\0"sv)) return Ifd{at + 6, "Casio2", true};
    // Canon, Minolta, Samsung and others: the directory from the first byte.
    // Exiv2 leaves other makers' notes as bytes.
    if (make.starts_with("Canon")) return Ifd{at, "Canon", be};
    if (make.starts_with("SAMSUNG")) return Ifd{at, "Samsung2", be, at};
    if (make.starts_with("SONY")) return Ifd{at, "Sony2", be};
    if (make.starts_with("NIKON")) return Ifd{at, "Nikon2", be};
    if (make.starts_with("CASIO")) return Ifd{at, "Casio", be};
    if (make.starts_with("Minolta") || make.starts_with("KONICA")) return Ifd{at, "Minolta", be};
    return std::nullopt;
}

}  // namespace

TiffValueCaps capTiffValues(std::span<std::uint8_t> tiff, std::uint64_t maxTextBytes, std::uint64_t maxTotalBytes) {
    TiffValueCaps caps;
    if (tiff.size() < 8) return caps;
    const bool be = tiff[0] == 'M' && tiff[1] == 'M';
    if (!be && !(tiff[0] == 'I' && tiff[1] == 'I')) return caps;
    if (readU16(tiff, 2, be) != 42) return caps;

    // Exiv2's names for the directories whose tags are shown; others only need counting.
    std::vector<Ifd> pending{{*readU32(tiff, 4, be), "Image", be}};
    std::set<std::uint64_t> seen;
    std::vector<Entry> entries;
    std::string make;
    bool makerNoteSeen = false;
    while (!pending.empty() && seen.size() < kMaxIfds) {
        const Ifd ifd = pending.back();
        pending.pop_back();
        if (!seen.insert(ifd.at).second) continue;
        const bool order = ifd.be;
        const auto count = readU16(tiff, ifd.at, order);
        if (!count) continue;
        const std::string_view name(ifd.group);
        for (std::uint64_t i = 0; i < *count; ++i) {
            const std::uint64_t e = ifd.at + 2 + 12 * i;
            const auto tag = readU16(tiff, e, order), type = readU16(tiff, e + 2, order);
            const auto n = readU32(tiff, e + 4, order), value = readU32(tiff, e + 8, order);
            if (!tag || !type || !n || !value) break;
            const std::uint64_t size = std::uint64_t{tiffTypeSize(*type)} * *n;
            const std::uint64_t valueAt = ifd.base + *value;
            if (ifd.inMakerNote) {
                // A maker's sub-directories (Olympus' settings, Nikon's preview).
                if (*type == TIFF_IFD && *n == 1) pending.push_back({valueAt, ifd.group, order, ifd.base, true});
            } else {
                if (*tag == kTagExifIfd && *n == 1) pending.push_back({*value, "Photo", be});
                if (*tag == kTagGpsIfd && *n == 1) pending.push_back({*value, "GPSInfo", be});
                if (*tag == kTagInteropIfd && *n == 1) pending.push_back({*value, "Iop", be});
                if (*tag == kTagSubIfds && (*type == TIFF_LONG || *type == TIFF_IFD)) {
                    for (std::uint32_t k = 0; k < std::min(*n, kMaxSubIfds); ++k) {
                        const auto sub = *n == 1 ? value : readU32(tiff, std::uint64_t{*value} + 4 * k, be);
                        if (sub) pending.push_back({*sub, "SubImage", be});
                    }
                }
                if (name == "Image" && *tag == kTagMake && *type == TIFF_ASCII) {
                    const auto text = size <= 4 ? subspan(tiff, e + 8, size) : subspan(tiff, *value, size);
                    if (text) make = asciiText(text->first(std::min<std::size_t>(text->size(), 64)));
                }
                if (name == "Photo" && *tag == kTagMakerNote && !makerNoteSeen && size > 4 &&
                    subspan(tiff, *value, size)) {
                    makerNoteSeen = true;
                    if (auto note = makerNoteIfd(tiff, *value, size, be, make)) {
                        note->inMakerNote = true;
                        pending.push_back(*note);
                    }
                }
            }
            // Exiv2 skips a value that does not lie within the data: it costs nothing.
            if (size > 4 && valueAt + size <= tiff.size()) entries.push_back({e + 4, size, *type, *tag, ifd.group, order});
        }
        // IFD0's chain, as far as Exiv2 follows it: IFD1 holds the thumbnail.
        const char* next = name == "Image" ? "Thumbnail" : name == "Thumbnail" ? "Image2" : name == "Image2" ? "Image3" : nullptr;
        if (next)
            if (const auto to = readU32(tiff, ifd.at + 2 + 12 * std::uint64_t{*count}, order); to && *to)
                pending.push_back({*to, next, be});
    }

    for (Entry& e : entries) {
        if (e.type != TIFF_ASCII || e.size <= maxTextBytes) continue;
        caps.textSizes[{e.group, e.tag}] = e.size;
        e.size = maxTextBytes + 1;
        writeU32(tiff, e.countAt, static_cast<std::uint32_t>(e.size), e.be);
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
        writeU32(tiff, e.countAt, 0, e.be);
        ++caps.droppedValues;
        caps.droppedBytes += e.size;
        caps.textSizes.erase({e.group, e.tag});
    }
    return caps;
}

}  // namespace vesk::platform::image
