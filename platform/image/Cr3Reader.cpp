// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/Cr3Reader.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/image/ExivReader.h"
#include "platform/image/IsoBox.h"

namespace vesk::platform::image {
namespace {

constexpr std::uint16_t kExifIfdTag = 0x8769, kGpsIfdTag = 0x8825, kMakerNoteTag = 0x927C;
constexpr std::uint16_t kTypeUndefined = 7, kTypeLong = 4;

std::uint64_t typeSize(std::uint16_t type) {
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
    }
}

struct Entry {
    std::uint16_t tag = 0, type = 0;
    std::uint32_t count = 0;
    std::vector<std::uint8_t> value;  // as stored, in the block's byte order
    // The value is already in the output: `value` holds its offset there.
    bool placed = false;
};

struct Ifd {
    bool bigEndian = false;
    std::vector<Entry> entries;
};

// The first IFD of a TIFF block, each value copied out of its block while
// `budget` lasts: entries may all name one large value, and each is copied.
std::optional<Ifd> readFirstIfd(ByteSpan block, std::uint64_t& budget) {
    if (block.size() < 8) return std::nullopt;
    Ifd ifd;
    if (block[0] == 'M' && block[1] == 'M') ifd.bigEndian = true;
    else if (!(block[0] == 'I' && block[1] == 'I')) return std::nullopt;
    const bool be = ifd.bigEndian;
    if (readU16(block, 2, be) != 42u) return std::nullopt;
    const std::uint64_t at = *readU32(block, 4, be);
    const auto count = readU16(block, at, be);
    if (!count) return std::nullopt;
    for (std::uint64_t i = 0; i < std::min<std::uint64_t>(*count, kMaxCr3IfdEntries); ++i) {
        const std::uint64_t e = at + 2 + i * 12;
        const auto entry = subspan(block, e, 12);
        if (!entry) break;
        Entry out;
        out.tag = *readU16(*entry, 0, be);
        out.type = *readU16(*entry, 2, be);
        out.count = *readU32(*entry, 4, be);
        const std::uint64_t size = typeSize(out.type) * out.count;
        if (size == 0) continue;
        const auto value = size <= 4 ? subspan(*entry, 8, size) : subspan(block, *readU32(*entry, 8, be), size);
        if (!value || size > budget) continue;
        budget -= size;
        out.value.assign(value->begin(), value->end());
        ifd.entries.push_back(std::move(out));
    }
    return ifd;
}

class TiffWriter {
public:
    explicit TiffWriter(bool bigEndian) : be_(bigEndian) {
        bytes_ = {std::uint8_t(be_ ? 'M' : 'I'), std::uint8_t(be_ ? 'M' : 'I')};
        u16(42);
        u32(0);  // IFD0's offset, set by finish()
    }

    // Writes an IFD and its values; answers where it starts.
    std::uint32_t ifd(std::vector<Entry> entries) {
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        if (bytes_.size() % 2) bytes_.push_back(0);
        const auto start = static_cast<std::uint32_t>(bytes_.size());
        std::uint64_t valuesAt = start + 2 + entries.size() * 12 + 4;
        u16(static_cast<std::uint16_t>(entries.size()));
        for (const Entry& e : entries) {
            u16(e.tag);
            u16(e.type);
            u32(e.count);
            if (e.value.size() <= 4 || e.placed) {
                std::array<std::uint8_t, 4> inline_{};
                std::copy(e.value.begin(), e.value.end(), inline_.begin());
                bytes_.insert(bytes_.end(), inline_.begin(), inline_.end());
            } else {
                u32(static_cast<std::uint32_t>(valuesAt));
                valuesAt += e.value.size() + e.value.size() % 2;
            }
        }
        u32(0);  // no next IFD
        for (const Entry& e : entries) {
            if (e.value.size() <= 4 || e.placed) continue;
            bytes_.insert(bytes_.end(), e.value.begin(), e.value.end());
            if (e.value.size() % 2) bytes_.push_back(0);
        }
        return start;
    }

    std::size_t size() const { return bytes_.size(); }

    Entry longEntry(std::uint16_t tag, std::uint32_t value) const {
        Entry e{tag, kTypeLong, 1, {}};
        for (int i = 0; i < 4; ++i) e.value.push_back(std::uint8_t(be_ ? value >> (24 - 8 * i) : value >> (8 * i)));
        return e;
    }

    std::vector<std::uint8_t> finish(std::uint32_t ifd0) {
        for (int i = 0; i < 4; ++i) bytes_[4 + i] = std::uint8_t(be_ ? ifd0 >> (24 - 8 * i) : ifd0 >> (8 * i));
        return std::move(bytes_);
    }

private:
    void u16(std::uint16_t v) {
        if (be_) bytes_.insert(bytes_.end(), {std::uint8_t(v >> 8), std::uint8_t(v)});
        else bytes_.insert(bytes_.end(), {std::uint8_t(v), std::uint8_t(v >> 8)});
    }
    void u32(std::uint32_t v) {
        if (be_) bytes_.insert(bytes_.end(), {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)});
        else bytes_.insert(bytes_.end(), {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)});
    }

    bool be_;
    std::vector<std::uint8_t> bytes_;
};

// A block in another byte order than IFD0's would need each value swapped;
// cameras write all four alike, so such a block is left out.
std::optional<Ifd> sameOrder(ByteSpan block, bool bigEndian, std::uint64_t& budget) {
    auto ifd = readFirstIfd(block, budget);
    if (!ifd || ifd->bigEndian != bigEndian) return std::nullopt;
    return ifd;
}

void dropTags(std::vector<Entry>& entries, std::initializer_list<std::uint16_t> tags) {
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const Entry& e) { return std::find(tags.begin(), tags.end(), e.tag) != tags.end(); }),
                  entries.end());
}

const IsoBox* child(const std::vector<IsoBox>& boxes, std::uint32_t type) {
    for (const IsoBox& b : boxes)
        if (b.type == type) return &b;
    return nullptr;
}

// The width and height of a track's first sample entry (a visual sample
// entry: 24 bytes, then the width and height as 16-bit numbers).
void trackImageSize(const ByteSource& file, const IsoBox& trak, Cr3Image& out) {
    const IsoBox* box = &trak;
    std::vector<IsoBox> level;
    for (std::uint32_t type : {fourcc("mdia"), fourcc("minf"), fourcc("stbl"), fourcc("stsd")}) {
        level = listIsoBoxes(file, box->contentOffset, box->end(), kMaxCr3Boxes);
        box = child(level, type);
        if (!box) return;
    }
    // stsd: version and flags, entry count, then the entries.
    const auto entry = readIsoBox(file, box->contentOffset + 8, box->end());
    std::array<std::uint8_t, 28> fields{};
    if (!entry || entry->type != fourcc("CRAW") || entry->contentLength < fields.size() ||
        !file.read(entry->contentOffset, fields))
        return;
    const std::uint32_t w = *readU16(fields, 24, true), h = *readU16(fields, 26, true);
    if (std::uint64_t{w} * h > std::uint64_t{out.width} * out.height) {
        out.width = w;
        out.height = h;
    }
}

}  // namespace

bool isUuidBox(const ByteSource& file, const IsoBox& box, const std::array<std::uint8_t, 16>& uuid) {
    std::array<std::uint8_t, 16> id{};
    return box.type == fourcc("uuid") && box.contentLength >= 16 && file.read(box.contentOffset, id) && id == uuid;
}

std::vector<std::uint8_t> joinCanonTiffBlocks(ByteSpan cmt1, ByteSpan cmt2, ByteSpan cmt3, ByteSpan cmt4) {
    // What Exiv2 would take anyway: the joined structure stays within it.
    std::uint64_t budget = kMaxExifBlockBytes / 2;
    auto ifd0 = readFirstIfd(cmt1, budget);
    if (!ifd0) return {};
    const bool be = ifd0->bigEndian;
    TiffWriter out(be);
    dropTags(ifd0->entries, {kExifIfdTag, kGpsIfdTag});
    // The maker note's values are written after its IFD, with offsets from
    // the start of the joined structure, as a JPEG's Canon note has them.
    std::optional<Entry> makerNote;
    if (auto note = sameOrder(cmt3, be, budget)) {
        const std::uint32_t at = out.ifd(std::move(note->entries));
        const auto length = static_cast<std::uint32_t>(out.size() - at);
        makerNote = Entry{kMakerNoteTag, kTypeUndefined, length, out.longEntry(0, at).value, true};
    }
    if (auto gps = sameOrder(cmt4, be, budget)) ifd0->entries.push_back(out.longEntry(kGpsIfdTag, out.ifd(std::move(gps->entries))));
    std::vector<Entry> exif;
    if (auto block = sameOrder(cmt2, be, budget)) exif = std::move(block->entries);
    dropTags(exif, {kMakerNoteTag, 0xA005});
    if (!exif.empty() || makerNote) {
        if (makerNote) exif.push_back(std::move(*makerNote));
        ifd0->entries.push_back(out.longEntry(kExifIfdTag, out.ifd(std::move(exif))));
    }
    return out.finish(out.ifd(std::move(ifd0->entries)));
}

std::optional<Cr3Image> readCr3(const ByteSource& file) {
    const auto top = listIsoBoxes(file, 0, file.size(), kMaxCr3Boxes);
    if (top.empty() || top.front().type != fourcc("ftyp")) return std::nullopt;
    std::array<std::uint8_t, 4> brand{};
    if (top.front().contentLength < 4 || !file.read(top.front().contentOffset, brand) ||
        std::memcmp(brand.data(), "crx ", 4) != 0)
        return std::nullopt;
    Cr3Image out;
    std::array<std::vector<std::uint8_t>, 4> blocks;
    for (const IsoBox& box : top) {
        if (isUuidBox(file, box, kXmpUuid) && out.xmp.empty()) {
            IsoBox packet = box;
            packet.contentOffset += 16;
            packet.contentLength -= 16;
            if (auto xmp = readIsoBoxContent(file, packet, kMaxCr3BlockBytes)) out.xmp.assign(xmp->begin(), xmp->end());
            continue;
        }
        if (box.type != fourcc("moov")) continue;
        for (const IsoBox& inMoov : listIsoBoxes(file, box.contentOffset, box.end(), kMaxCr3Boxes)) {
            if (inMoov.type == fourcc("trak")) {
                trackImageSize(file, inMoov, out);
            } else if (isUuidBox(file, inMoov, kCanonUuid)) {
                for (const IsoBox& cmt : listIsoBoxes(file, inMoov.contentOffset + 16, inMoov.end(), kMaxCr3Boxes)) {
                    static constexpr std::uint32_t kNames[] = {fourcc("CMT1"), fourcc("CMT2"), fourcc("CMT3"),
                                                               fourcc("CMT4")};
                    const auto* name = std::find(std::begin(kNames), std::end(kNames), cmt.type);
                    if (name == std::end(kNames)) continue;
                    auto& block = blocks[static_cast<std::size_t>(name - std::begin(kNames))];
                    if (!block.empty()) continue;
                    if (auto content = readIsoBoxContent(file, cmt, kMaxCr3BlockBytes)) {
                        block = std::move(*content);
                    } else {
                        if (!out.budgetCut.empty()) out.budgetCut += ", ";
                        out.budgetCut += "a CR3 EXIF block of " + std::to_string(cmt.contentLength >> 20) + " MB not read";
                    }
                }
            }
        }
        break;
    }
    out.exifTiff = joinCanonTiffBlocks(blocks[0], blocks[1], blocks[2], blocks[3]);
    return out;
}

}  // namespace vesk::platform::image
