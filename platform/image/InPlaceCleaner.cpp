// SPDX-License-Identifier: GPL-3.0-or-later
// A HEIF or JPEG XL file's location blanked in place: every offset in its
// boxes stays true because no byte moves. The GPS directory of the Exif item is emptied
// (its values zeroed, its entry count 0) and the XMP item's place properties
// become whitespace inside the packet.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "platform/image/InPlaceCleaner.h"
#include "platform/image/HeifItems.h"
#include "platform/image/IsoBox.h"
#include "platform/image/TiffValue.h"

namespace vesk::platform::image {

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Block {
    std::uint64_t offset = 0, length = 0;  // in the file
    bool exif = false;
};

// A JPEG XL container's 'Exif' and 'xml ' boxes; compressed ('brob') ones
// cannot be blanked in place.
Result<std::vector<Block>> jxlBlocks(const std::vector<IsoBox>& boxes) {
    using R = Result<std::vector<Block>>;
    std::vector<Block> blocks;
    for (const IsoBox& box : boxes) {
        if (box.type == fourcc("brob"))
            return R::failure("its JPEG XL metadata is compressed ('brob'), which is not blanked in place");
        if (box.type == fourcc("Exif") || box.type == fourcc("xml "))
            blocks.push_back({box.contentOffset, box.contentLength, box.type == fourcc("Exif")});
    }
    return R::success(std::move(blocks));
}

// The Exif and XMP items of the file, each one extent within it; an error
// for a layout whose metadata cannot be blanked in place safely.
Result<std::vector<Block>> metadataBlocks(ByteSpan file) {
    using R = Result<std::vector<Block>>;
    const SpanSource source(file);
    const auto boxes = listIsoBoxes(source, 0, file.size(), 4096);
    if (!boxes.empty() && boxes.front().type == fourcc("JXL ")) {
        if (boxes.back().end() != file.size()) return R::failure("a JPEG XL container whose boxes do not fill the file");
        return jxlBlocks(boxes);
    }
    if (boxes.empty() || boxes.front().type != fourcc("ftyp")) return R::failure("not a HEIF file ('ftyp' first)");
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
        Block block{item.extents[0].offset, item.extents[0].length, exif};
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

// Empties the GPS directory of the Exif block; the number of values it held.
Result<std::size_t> blankGps(std::span<std::uint8_t> block) {
    using R = Result<std::size_t>;
    auto lead = readU32(block, 0, true);
    if (!lead || *lead > block.size() - 4) return R::failure("an Exif block without its TIFF header");
    const auto tiff = block.subspan(4 + *lead);
    if (tiff.size() < 8 || (std::memcmp(tiff.data(), "II", 2) != 0 && std::memcmp(tiff.data(), "MM", 2) != 0))
        return R::failure("an Exif block without its TIFF header");
    const bool be = tiff[0] == 'M';
    auto ifd = readU32(tiff, 4, be);
    auto count = ifd ? readU16(tiff, *ifd, be) : std::nullopt;
    if (!count) return R::failure("an Exif block whose first directory is outside it");
    std::optional<std::uint32_t> gps;
    for (std::uint32_t i = 0; i < *count; ++i)
        if (readU16(tiff, *ifd + 2 + 12ull * i, be) == 0x8825) gps = readU32(tiff, *ifd + 2 + 12ull * i + 8, be);
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

bool nameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '_' || c == '-' || c == '.';
}

// Blanks, in an XMP packet, the elements and attributes whose qualified name
// starts with one of `prefixes`; how many. Nothing when the packet's shape
// is not understood (an element without its end).
std::optional<std::size_t> blankXmp(std::span<std::uint8_t> block, std::initializer_list<std::string_view> prefixes) {
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

}  // namespace

Result<CleanedImage> cleanInPlace(ByteSpan original, CleanLevel level) {
    using R = Result<CleanedImage>;
    if (level == CleanLevel::All)
        return R::failure("HEIF and JPEG XL copies without any metadata are not made yet; without location they are");
    auto blocks = metadataBlocks(original);
    if (!blocks) return R::failure(blocks.error());
    CleanedImage cleaned;
    cleaned.bytes.assign(original.begin(), original.end());
    std::size_t gps = 0, places = 0;
    for (const Block& b : *blocks) {
        const std::span<std::uint8_t> block(cleaned.bytes.data() + b.offset, b.length);
        if (b.exif) {
            auto n = blankGps(block);
            if (!n) return R::failure(n.error());
            gps += *n;
        } else {
            auto n = blankXmp(block, {"exif:GPS", "photoshop:City", "photoshop:State", "photoshop:Country",
                                      "Iptc4xmpCore:Location", "Iptc4xmpCore:CountryCode",
                                      "Iptc4xmpExt:LocationShown", "Iptc4xmpExt:LocationCreated"});
            if (!n) return R::failure("its XMP packet has an element without its end");
            places += *n;
        }
    }
    if (gps) cleaned.removed.push_back("GPS (" + std::to_string(gps) + (gps == 1 ? " tag)" : " tags)"));
    if (places)
        cleaned.removed.push_back("XMP places (" + std::to_string(places) + (places == 1 ? " property)" : " properties)"));
    return R::success(std::move(cleaned));
}

Result<std::vector<std::uint8_t>> outsideMetadata(ByteSpan file) {
    auto blocks = metadataBlocks(file);
    if (!blocks) return Result<Bytes>::failure(blocks.error());
    Bytes out(file.begin(), file.end());
    for (const Block& b : *blocks) std::fill_n(out.begin() + b.offset, b.length, 0);
    return Result<Bytes>::success(std::move(out));
}

}  // namespace vesk::platform::image
