// SPDX-License-Identifier: GPL-3.0-or-later
// A HEIF, JPEG XL or CR3 file's metadata blanked in place: every offset in
// its boxes stays true because no byte moves. For the location the GPS
// directory is emptied (its values zeroed, its entry count 0) and the XMP
// place properties become whitespace inside the packet; for everything, the
// TIFF directories keep only the display tags, moved up where they stand,
// the rest of each block zeroed, and the XMP packet is an empty one.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "platform/image/InPlaceCleaner.h"
#include "platform/image/Cr3Reader.h"
#include "platform/image/HeifItems.h"
#include "platform/image/IsoBox.h"
#include "platform/image/TiffValue.h"

namespace vesk::platform::image {

namespace {

using Bytes = std::vector<std::uint8_t>;

// Exif: a HEIF or JPEG XL Exif block (an offset, then a TIFF structure);
// Tiff: one of a CR3's CMT blocks, CMT1-CMT4 by `cmt`; Thumbnail: a CR3's
// THMB box, header and all.
enum class Kind { Exif, Xmp, Tiff, Thumbnail };

struct Block {
    std::uint64_t offset = 0, length = 0;  // in the file
    Kind kind = Kind::Xmp;
    int cmt = 0;
};

// Whether a CR3 track carries Canon's timed metadata ('CTMD'): exposure and
// maker-note records for every frame, in the media data.
bool isTimedMetadataTrack(ByteSpan file, const IsoBox& trak) {
    const SpanSource source(file);
    IsoBox box = trak;
    for (std::uint32_t type : {fourcc("mdia"), fourcc("minf"), fourcc("stbl"), fourcc("stsd")}) {
        const auto level = listIsoBoxes(source, box.contentOffset, box.end(), kMaxCr3Boxes);
        const auto found = std::find_if(level.begin(), level.end(), [&](const IsoBox& b) { return b.type == type; });
        if (found == level.end()) return false;
        box = *found;
    }
    // stsd: version and flags, entry count, then the first entry's size and type.
    return readU32(file, box.contentOffset + 12, true) == fourcc("CTMD");
}


// A JPEG XL container's 'Exif' and 'xml ' boxes; compressed ('brob') ones
// cannot be blanked in place.
Result<std::vector<Block>> jxlBlocks(const std::vector<IsoBox>& boxes) {
    using R = Result<std::vector<Block>>;
    std::vector<Block> blocks;
    for (const IsoBox& box : boxes) {
        if (box.type == fourcc("brob"))
            return R::failure("its JPEG XL metadata is compressed ('brob'), which is not blanked in place");
        if (box.type == fourcc("Exif") || box.type == fourcc("xml "))
            blocks.push_back({box.contentOffset, box.contentLength, box.type == fourcc("Exif") ? Kind::Exif : Kind::Xmp});
    }
    return R::success(std::move(blocks));
}

// Boxes from `begin` to `end` that must fill it: a box cut short could hide
// metadata the walk would then miss.
std::optional<std::vector<IsoBox>> filledBoxes(ByteSpan file, std::uint64_t begin, std::uint64_t end) {
    auto boxes = listIsoBoxes(SpanSource(file), begin, end, 4096);
    if ((boxes.empty() ? begin : boxes.back().end()) != end) return std::nullopt;
    return boxes;
}

// A CR3's CMT blocks and thumbnail in Canon's 'moov' box, and its XMP
// packets. The preview (PRVW) is the picture as viewers show it, with no
// metadata of its own, and stays.
Result<std::vector<Block>> cr3Blocks(ByteSpan file, const std::vector<IsoBox>& top, CleanLevel level) {
    using R = Result<std::vector<Block>>;
    const SpanSource source(file);
    std::vector<Block> blocks;
    for (const IsoBox& box : top) {
        if (isUuidBox(source, box, kXmpUuid)) blocks.push_back({box.contentOffset + 16, box.contentLength - 16});
        if (box.type != fourcc("moov")) continue;
        const auto inMoov = filledBoxes(file, box.contentOffset, box.end());
        if (!inMoov) return R::failure("a CR3 'moov' box whose boxes do not fill it");
        for (const IsoBox& child : *inMoov) {
            if (level == CleanLevel::All && child.type == fourcc("trak") && isTimedMetadataTrack(file, child))
                return R::failure("its timed metadata track (CTMD) holds exposure and maker-note records, "
                                  "which are not blanked; a copy without location can be made");
            if (!isUuidBox(source, child, kCanonUuid)) continue;
            const auto pieces = filledBoxes(file, child.contentOffset + 16, child.end());
            if (!pieces) return R::failure("a CR3 metadata box whose boxes do not fill it");
            for (const IsoBox& part : *pieces) {
                for (int n = 1; n <= 4; ++n)
                    if (part.type == fourcc("CMT0") + std::uint32_t(n))
                        blocks.push_back({part.contentOffset, part.contentLength, Kind::Tiff, n});
                // A freed thumbnail too, so that a copy compares with its original.
                if (part.type == fourcc("THMB") || part.type == fourcc("free"))
                    blocks.push_back({part.offset, part.end() - part.offset, Kind::Thumbnail});
            }
        }
    }
    return R::success(std::move(blocks));
}

// The metadata blocks of a HEIF file (its Exif and XMP items, each one
// extent), a JPEG XL container or a CR3; an error for a layout whose
// metadata cannot be blanked in place safely at `level`.
Result<std::vector<Block>> metadataBlocks(ByteSpan file, CleanLevel level) {
    using R = Result<std::vector<Block>>;
    const SpanSource source(file);
    const auto boxes = listIsoBoxes(source, 0, file.size(), 4096);
    if (!boxes.empty() && boxes.front().type == fourcc("JXL ")) {
        if (boxes.back().end() != file.size()) return R::failure("a JPEG XL container whose boxes do not fill the file");
        return jxlBlocks(boxes);
    }
    if (boxes.empty() || boxes.front().type != fourcc("ftyp")) return R::failure("not a HEIF file ('ftyp' first)");
    const auto brand = subspan(file, boxes.front().contentOffset, 4);
    if (brand && std::memcmp(brand->data(), "crx ", 4) == 0) {
        if (boxes.back().end() != file.size()) return R::failure("a CR3 file whose boxes do not fill it");
        return cr3Blocks(file, boxes, level);
    }
    const auto meta = std::find_if(boxes.begin(), boxes.end(), [](const IsoBox& b) { return b.type == fourcc("meta"); });
    if (meta == boxes.end()) return R::failure("a HEIF file without a 'meta' box");
    const ByteSpan content = file.subspan(meta->contentOffset, meta->contentLength);
    const HeifItemTables tables = readHeifItemTables(content);
    if (!tables.complete || tables.repeatedIds) return R::failure("its HEIF item tables are incomplete or repeat an ID");
    std::vector<Block> blocks;
    for (const HeifItem& item : tables.items) {
        const bool exif = item.type == fourcc("Exif");
        const bool xmp = item.type == fourcc("mime") && item.contentType == "application/rdf+xml";
        if (!exif && !xmp) continue;
        if (!item.contentEncoding.empty() || !item.inThisFile || item.construction > 1 || item.extents.size() != 1)
            return R::failure("its metadata is compressed, split or kept elsewhere, which is not blanked in place");
        Block block{item.extents[0].offset, item.extents[0].length, exif ? Kind::Exif : Kind::Xmp};
        if (item.construction == 1) {
            if (!tables.idat) return R::failure("a HEIF item in an 'idat' box that is not there");
            block.offset += meta->contentOffset + tables.idat->contentOffset;
        }
        if (block.length == 0 || !subspan(file, block.offset, block.length))
            return R::failure("a HEIF metadata item outside the file");
        blocks.push_back(block);
    }
    return R::success(std::move(blocks));
}

// The TIFF structure of an Exif block, after the offset that leads to it.
std::optional<std::span<std::uint8_t>> exifTiff(std::span<std::uint8_t> block) {
    auto lead = readU32(block, 0, true);
    if (!lead || *lead > block.size() - 4) return std::nullopt;
    return block.subspan(4 + *lead);
}

bool isTiff(ByteSpan tiff) {
    return tiff.size() >= 8 && (std::memcmp(tiff.data(), "II", 2) == 0 || std::memcmp(tiff.data(), "MM", 2) == 0);
}

// The value field of the entry `tag` in the directory at `at` (a pointer,
// for a directory or a value that does not fit in it); the last of them.
std::optional<std::uint32_t> entryValue(ByteSpan tiff, std::uint64_t at, std::uint16_t tag, bool be) {
    const auto count = readU16(tiff, at, be);
    std::optional<std::uint32_t> value;
    for (std::uint32_t i = 0; count && i < *count; ++i)
        if (readU16(tiff, at + 2 + 12ull * i, be) == tag) value = readU32(tiff, at + 2 + 12ull * i + 8, be);
    return value;
}

// Takes the entry `tag` out of the directory at `at`: its value's bytes
// zeroed, the later entries and the next-directory offset moved up over it,
// the count one less. Whether it was there.
Result<bool> dropEntry(std::span<std::uint8_t> tiff, std::uint64_t at, std::uint16_t tag, bool be) {
    using R = Result<bool>;
    const auto count = readU16(tiff, at, be);
    if (!count || !subspan(tiff, at, 2 + 12ull * *count + 4)) return R::failure("a TIFF directory outside its block");
    const std::uint64_t end = at + 2 + 12ull * *count + 4;
    for (std::uint32_t i = 0; i < *count; ++i) {
        const std::uint64_t entry = at + 2 + 12ull * i;
        if (readU16(tiff, entry, be) != tag) continue;
        const std::uint64_t size = std::uint64_t{tiffTypeSize(*readU16(tiff, entry + 2, be))} * *readU32(tiff, entry + 4, be);
        if (size > 4) {
            const auto value = *readU32(tiff, entry + 8, be);
            if (!subspan(tiff, value, size)) return R::failure("a TIFF value outside its block");
            std::fill_n(tiff.begin() + value, size, 0);
        }
        std::copy(tiff.begin() + entry + 12, tiff.begin() + end, tiff.begin() + entry);
        std::fill(tiff.begin() + end - 12, tiff.begin() + end, 0);
        writeU16(tiff, at, static_cast<std::uint16_t>(*count - 1), be);
        return R::success(true);
    }
    return R::success(false);
}

constexpr std::uint16_t kUserComment = 0x9286;

// Empties the GPS directory of the Exif block; the number of values it held.
Result<std::size_t> blankGps(std::span<std::uint8_t> block) {
    using R = Result<std::size_t>;
    const auto found = exifTiff(block);
    if (!found || !isTiff(*found)) return R::failure("an Exif block without its TIFF header");
    const auto tiff = *found;
    const bool be = tiff[0] == 'M';
    auto ifd = readU32(tiff, 4, be);
    auto count = ifd ? readU16(tiff, *ifd, be) : std::nullopt;
    if (!count) return R::failure("an Exif block whose first directory is outside it");
    const auto gps = entryValue(tiff, *ifd, 0x8825, be);
    if (!gps) return R::success(0);
    auto entries = readU16(tiff, *gps, be);
    if (!entries || !subspan(tiff, *gps, 2 + 12ull * *entries + 4))
        return R::failure("an Exif block whose GPS directory is outside it");
    for (std::uint32_t i = 0; i < *entries; ++i) {
        const std::uint64_t entry = *gps + 2 + 12ull * i;
        const std::uint64_t unit = tiffTypeSize(*readU16(tiff, entry + 2, be));
        const std::uint64_t size = unit * *readU32(tiff, entry + 4, be);
        if (size <= 4) continue;
        const auto at = *readU32(tiff, entry + 8, be);
        if (!subspan(tiff, at, size)) return R::failure("a GPS value outside its Exif block");
        std::fill_n(tiff.begin() + at, size, 0);
    }
    // No entries, and the next-directory offset after them reads 0.
    std::fill_n(tiff.begin() + *gps, 2 + 12ull * *entries + 4, 0);
    return R::success(*entries);
}

// What the copy of a TIFF structure keeps: IFD0's display tags (and the EXIF
// directory's pointer, followed), then the EXIF directory's.
constexpr std::uint16_t kExifIfd = 0x8769;
constexpr std::uint16_t kKeptInIfd0[] = {0x0100, 0x0101, 0x0112, 0x011A, 0x011B, 0x0128, 0x0213, 0x8773, kExifIfd};
constexpr std::uint16_t kKeptInExif[] = {0x9000, 0x9101, 0xA000, 0xA001, 0xA002, 0xA003};

// A TIFF structure being copied with only the kept entries: `to` starts all
// zero. Directories may not overlap each other or a kept value, or moving
// entries up would write over what another part still needs.
struct Compaction {
    ByteSpan from;
    std::vector<std::uint8_t> to;
    bool be = false;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> directories, values;
    std::size_t removed = 0;

    static bool overlaps(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& ranges, std::uint64_t at,
                         std::uint64_t size) {
        return std::any_of(ranges.begin(), ranges.end(),
                           [&](const auto& r) { return at < r.first + r.second && r.first < at + size; });
    }
    void copy(std::uint64_t fromAt, std::uint64_t toAt, std::uint64_t size) {
        std::copy_n(from.begin() + fromAt, size, to.begin() + toAt);
    }
};

// Copies the directory at `at` with the entries in `keep`, moved up to close
// the gaps, and their values where they were; the EXIF directory's pointer
// is followed with `keepInExif` (and dropped when that is empty). A kept
// entry whose value or directory is not where it should be is dropped too:
// it says nothing of anyone, and the copy is the cleaner without it.
std::optional<std::string> keepEntries(Compaction& c, std::uint64_t at, std::span<const std::uint16_t> keep,
                                       std::span<const std::uint16_t> keepInExif) {
    const auto count = readU16(c.from, at, c.be);
    if (!count || !subspan(c.from, at, 2 + 12ull * *count + 4)) return "a TIFF directory outside its block";
    const std::uint64_t size = 2 + 12ull * *count + 4;
    if (Compaction::overlaps(c.directories, at, size) || Compaction::overlaps(c.values, at, size))
        return "TIFF directories that overlap";
    c.directories.emplace_back(at, size);
    std::uint16_t kept = 0;
    for (std::uint32_t i = 0; i < *count; ++i) {
        const std::uint64_t entry = at + 2 + 12ull * i;
        const std::uint16_t tag = *readU16(c.from, entry, c.be);
        const std::uint64_t length = std::uint64_t{tiffTypeSize(*readU16(c.from, entry + 2, c.be))} *
                                     *readU32(c.from, entry + 4, c.be);
        const bool wanted = std::find(keep.begin(), keep.end(), tag) != keep.end() &&
                            (tag != kExifIfd || !keepInExif.empty()) && length > 0;
        if (!wanted) {
            ++c.removed;
            continue;
        }
        const std::uint32_t pointer = *readU32(c.from, entry + 8, c.be);
        if (tag == kExifIfd) {
            if (keepEntries(c, pointer, keepInExif, {})) {
                ++c.removed;
                continue;
            }
        } else if (length > 4) {
            if (!subspan(c.from, pointer, length) || Compaction::overlaps(c.directories, pointer, length)) {
                ++c.removed;
                continue;
            }
            c.values.emplace_back(pointer, length);
            c.copy(pointer, pointer, length);
        }
        c.copy(entry, at + 2 + 12ull * kept++, 12);
    }
    writeU16(c.to, at, kept, c.be);
    return std::nullopt;  // the next-directory offset stays 0: no IFD1, no thumbnail
}

struct Compacted {
    std::size_t removed = 0;  // entries of the directories walked
    bool thumbnail = false;   // IFD0 led on to IFD1
};

// A TIFF structure compacted in place: its header, IFD0 with the entries in
// `keep`, and the EXIF directory with those in `keepInExif`; every other byte
// zero, so no directory, value, maker note or thumbnail outside them remains.
Result<Compacted> compactTiff(std::span<std::uint8_t> tiff, std::span<const std::uint16_t> keep,
                              std::span<const std::uint16_t> keepInExif) {
    using R = Result<Compacted>;
    if (!isTiff(tiff)) return R::failure("a metadata block without its TIFF header");
    Compaction c;
    c.from = tiff;
    c.to.assign(tiff.size(), 0);
    c.be = tiff[0] == 'M';
    c.copy(0, 0, 8);
    c.directories.emplace_back(0, 8);
    const std::uint32_t ifd0 = *readU32(tiff, 4, c.be);
    if (auto error = keepEntries(c, ifd0, keep, keepInExif)) return R::failure(*error);
    Compacted done{c.removed, readU32(tiff, ifd0 + 2 + 12ull * *readU16(tiff, ifd0, c.be), c.be) != 0u};
    std::copy(c.to.begin(), c.to.end(), tiff.begin());
    return R::success(done);
}

// The packet "all" leaves: valid XMP saying nothing, padded with spaces to
// the block's length; false when the block is too short for it.
bool emptyXmp(std::span<std::uint8_t> block) {
    constexpr std::string_view head =
        "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
        "</rdf:RDF></x:xmpmeta>\n";
    constexpr std::string_view tail = "<?xpacket end=\"w\"?>";
    if (block.size() < head.size() + tail.size()) return false;
    std::fill(block.begin(), block.end(), ' ');
    std::copy(head.begin(), head.end(), block.begin());
    std::copy(tail.begin(), tail.end(), block.end() - static_cast<std::ptrdiff_t>(tail.size()));
    return true;
}

bool nameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '_' || c == '-' || c == '.';
}

// Blanks, in an XMP packet, the elements and attributes whose qualified name
// starts with one of `prefixes`; how many. Nothing when the packet's shape
// is not understood (an element without its end).
std::optional<std::size_t> blankXmp(std::span<std::uint8_t> block, std::span<const std::string_view> prefixes) {
    std::string_view text(reinterpret_cast<const char*>(block.data()), block.size());
    std::size_t blanked = 0;
    for (std::string_view prefix : prefixes) {
        for (std::size_t at = text.find(prefix); at != std::string_view::npos; at = text.find(prefix, at + 1)) {
            if (at == 0) continue;
            std::size_t end = at;
            while (end < text.size() && nameChar(text[end])) ++end;
            const std::string_view name = text.substr(at, end - at);
            std::size_t from = at, to = 0;
            if (text[at - 1] == '<') {  // an element, up to its end tag or its own "/>"
                from = at - 1;
                const std::size_t close = text.find('>', end);
                if (close == std::string_view::npos) return std::nullopt;
                if (text[close - 1] == '/') {
                    to = close + 1;
                } else {
                    const std::size_t endTag = text.find("</" + std::string(name) + ">", close);
                    if (endTag == std::string_view::npos) return std::nullopt;
                    to = endTag + name.size() + 3;
                }
            } else if (std::isspace(static_cast<unsigned char>(text[at - 1])) && end + 1 < text.size() &&
                       text[end] == '=' && (text[end + 1] == '"' || text[end + 1] == '\'')) {  // an attribute
                const std::size_t quote = text.find(text[end + 1], end + 2);
                if (quote == std::string_view::npos) return std::nullopt;
                to = quote + 1;
            } else {
                continue;  // a namespace declaration or the name inside a value
            }
            std::fill(block.begin() + from, block.begin() + to, ' ');
            ++blanked;
        }
    }
    return blanked;
}

// What was taken out, counted over the blocks.
struct Tally {
    std::size_t gps = 0, places = 0, exif = 0;
    bool thumbnail = false, makerNote = false, xmp = false, comment = false;
};

// Takes the user comment out of the EXIF directory at `at`.
std::optional<std::string> dropComment(std::span<std::uint8_t> tiff, std::optional<std::uint32_t> at, Tally& tally) {
    if (!at || !isTiff(tiff)) return std::nullopt;
    auto dropped = dropEntry(tiff, *at, kUserComment, tiff[0] == 'M');
    if (!dropped) return dropped.error();
    tally.comment = tally.comment || *dropped;
    return std::nullopt;
}

constexpr std::string_view kXmpPlaces[] = {
    "exif:GPS", "photoshop:City", "photoshop:State", "photoshop:Country", "Iptc4xmpCore:Location",
    "Iptc4xmpCore:CountryCode", "Iptc4xmpExt:LocationShown", "Iptc4xmpExt:LocationCreated"};

// Takes out of one block what `level` removes; the reason when it cannot.
std::optional<std::string> clean(std::span<std::uint8_t> block, const Block& b, CleanLevel level, bool comment,
                                 Tally& tally) {
    const bool all = level == CleanLevel::All;
    switch (b.kind) {
    case Kind::Xmp:
        if (block.empty()) return std::nullopt;
        if (all) {
            if (!emptyXmp(block)) return "its XMP block is too short to hold an empty packet";
            tally.xmp = true;
        } else if (auto n = blankXmp(block, kXmpPlaces)) {
            tally.places += *n;
        } else {
            return "its XMP packet has an element without its end";
        }
        return std::nullopt;
    case Kind::Exif:
        if (!all) {
            auto n = blankGps(block);
            if (!n) return n.error();
            tally.gps += *n;
            const auto tiff = exifTiff(block);
            if (!comment || !tiff || !isTiff(*tiff)) return std::nullopt;
            const bool be = (*tiff)[0] == 'M';
            const auto ifd0 = readU32(*tiff, 4, be);
            return dropComment(*tiff, ifd0 ? entryValue(*tiff, *ifd0, kExifIfd, be) : std::nullopt, tally);
        }
        if (auto tiff = exifTiff(block)) {
            auto done = compactTiff(*tiff, kKeptInIfd0, kKeptInExif);
            if (!done) return done.error();
            tally.exif += done->removed;
            tally.thumbnail = tally.thumbnail || done->thumbnail;
            return std::nullopt;
        }
        return "an Exif block without its TIFF header";
    case Kind::Tiff: {
        // CMT1 is IFD0, CMT2 the EXIF directory, CMT3 the maker note, CMT4 GPS.
        if (!all && b.cmt == 2 && comment && block.size() >= 8)
            return dropComment(block, readU32(block, 4, block[0] == 'M'), tally);
        if (!all && b.cmt != 4) return std::nullopt;
        const std::span<const std::uint16_t> keep = b.cmt == 1 ? std::span(kKeptInIfd0)
                                                    : b.cmt == 2 ? std::span(kKeptInExif)
                                                                 : std::span<const std::uint16_t>();
        auto done = compactTiff(block, keep, {});
        if (!done) return done.error();
        (b.cmt == 4 ? tally.gps : tally.exif) += done->removed;
        tally.makerNote = tally.makerNote || (b.cmt == 3 && done->removed > 0);
        return std::nullopt;
    }
    case Kind::Thumbnail:
        // A 'free' box of the same length: readers pass over it.
        if (!all || std::memcmp(block.data() + 4, "free", 4) == 0) return std::nullopt;
        std::copy_n("free", 4, block.begin() + 4);
        std::fill(block.begin() + 8, block.end(), 0);
        tally.thumbnail = true;
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

Result<CleanedImage> cleanInPlace(ByteSpan original, CleanLevel level, bool comment) {
    using R = Result<CleanedImage>;
    auto blocks = metadataBlocks(original, level);
    if (!blocks) return R::failure(blocks.error());
    // One block cleaned over another could bring back what the first removed.
    std::sort(blocks->begin(), blocks->end(), [](const Block& a, const Block& b) { return a.offset < b.offset; });
    for (std::size_t i = 1; i < blocks->size(); ++i)
        if ((*blocks)[i].offset < (*blocks)[i - 1].offset + (*blocks)[i - 1].length)
            return R::failure("its metadata blocks overlap");
    CleanedImage cleaned;
    cleaned.bytes.assign(original.begin(), original.end());
    Tally tally;
    for (const Block& b : *blocks)
        if (auto error = clean(std::span(cleaned.bytes.data() + b.offset, b.length), b, level, comment, tally))
            return R::failure(*error);
    const auto count = [&](std::size_t n, const char* what, const char* one, const char* many) {
        if (!n) return;
        std::string text = what;
        text += " (";
        text += std::to_string(n);
        text += n == 1 ? one : many;
        cleaned.removed.push_back(std::move(text));
    };
    count(tally.gps, "GPS", " tag)", " tags)");
    count(tally.places, "XMP places", " property)", " properties)");
    count(tally.exif, "EXIF", " tag)", " tags)");
    if (tally.comment) cleaned.removed.push_back(kCommentNamingAPlace);
    if (tally.makerNote) cleaned.removed.push_back("maker note");
    if (tally.thumbnail) cleaned.removed.push_back("thumbnail");
    if (tally.xmp) cleaned.removed.push_back("XMP");
    return R::success(std::move(cleaned));
}

Result<std::vector<std::uint8_t>> outsideMetadata(ByteSpan file) {
    auto blocks = metadataBlocks(file, CleanLevel::Location);
    if (!blocks) return Result<Bytes>::failure(blocks.error());
    Bytes out(file.begin(), file.end());
    for (const Block& b : *blocks) std::fill_n(out.begin() + b.offset, b.length, 0);
    return Result<Bytes>::success(std::move(out));
}

}  // namespace vesk::platform::image
