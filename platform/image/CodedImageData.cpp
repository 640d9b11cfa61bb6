// SPDX-License-Identifier: GPL-3.0-or-later
// Which files can be cleaned, and the coded picture the cleaning must leave
// byte for byte. Each walk is bounded by the file's own length.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/image/InPlaceCleaner.h"
#include "platform/image/ImageKind.h"
#include "platform/image/MetadataCleaner.h"
#include "platform/image/MultiPicture.h"

namespace vesk::platform::image {

namespace {

using Bytes = std::vector<std::uint8_t>;

bool startsWith(ByteSpan bytes, std::string_view prefix) {
    return bytes.size() >= prefix.size() && std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

void append(Bytes& out, ByteSpan part) { out.insert(out.end(), part.begin(), part.end()); }

Result<Bytes> fail(std::string_view what, std::string_view field, std::uint64_t value, std::string_view problem) {
    return Result<Bytes>::failure(malformedMessage(what, field, value, problem));
}

// Everything but the application segments and comments, and from the first
// scan to the end as it stands: metadata lives only in those segments.
Result<Bytes> jpegCoded(ByteSpan file) {
    Bytes out;
    std::uint64_t at = 2;
    while (true) {
        auto ff = readU8(file, at);
        if (!ff || *ff != 0xFF) return fail("JPEG", "segment at", at, "no marker before the first scan");
        auto marker = readU8(file, at + 1);
        while (marker && *marker == 0xFF) marker = readU8(file, ++at + 1);
        if (!marker) return fail("JPEG", "marker at", at, "past the end of the file");
        if (*marker == 0x01 || (*marker >= 0xD0 && *marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (*marker == 0xD9) return fail("JPEG", "end of image at", at, "before any scan");
        auto length = readU16(file, at + 2, true);
        if (!length || *length < 2 || !subspan(file, at, 2 + std::uint64_t(*length)))
            return fail("JPEG", "segment length at", at + 2, "past the end of the file");
        const bool metadata = (*marker >= 0xE0 && *marker <= 0xEF) || *marker == 0xFE;
        if (*marker == 0xDA) {
            append(out, file.subspan(at));
            return Result<Bytes>::success(std::move(out));
        }
        if (!metadata) append(out, file.subspan(at, 2 + std::size_t(*length)));
        at += 2 + std::uint64_t(*length);
    }
}

// Each image of a multi-picture JPEG in turn (what lies between or after
// them is no image's), else the one.
Result<Bytes> jpegImagesCoded(ByteSpan file) {
    auto mp = readMultiPicture(file);
    if (!mp) return Result<Bytes>::failure(mp.error());
    if (!*mp || (*mp)->images.size() < 2) return jpegCoded(file);
    Bytes out;
    for (const auto& image : (*mp)->images) {
        auto one = jpegCoded(file.subspan(image.offset, image.size));
        if (!one) return one;
        append(out, *one);
    }
    return Result<Bytes>::success(std::move(out));
}

// PNG's header, palette, transparency, animation control and data chunks.
Result<Bytes> pngCoded(ByteSpan file) {
    Bytes out;
    for (std::uint64_t at = 8;;) {
        auto length = readU32(file, at, true);
        if (!length || !subspan(file, at, 12 + std::uint64_t(*length)))
            return fail("PNG", "chunk at", at, "past the end of the file");
        const auto type = std::string_view(reinterpret_cast<const char*>(file.data() + at + 4), 4);
        if (type == "IEND") return Result<Bytes>::success(std::move(out));
        for (std::string_view coded : {"IHDR", "PLTE", "tRNS", "IDAT", "acTL", "fcTL", "fdAT"})
            if (type == coded) append(out, file.subspan(at + 4, 4 + std::size_t(*length)));
        at += 12 + std::uint64_t(*length);
    }
}

// WebP's bitstream chunks: lossy, lossless, alpha and animation frames.
Result<Bytes> webpCoded(ByteSpan file) {
    Bytes out;
    for (std::uint64_t at = 12; at < file.size();) {
        auto length = readU32(file, at + 4, false);
        if (!length || !subspan(file, at, 8 + std::uint64_t(*length)))
            return fail("WebP", "chunk at", at, "past the end of the file");
        const auto type = std::string_view(reinterpret_cast<const char*>(file.data() + at), 4);
        for (std::string_view coded : {"VP8 ", "VP8L", "ALPH", "ANIM", "ANMF"})
            if (type == coded) append(out, file.subspan(at, 8 + std::size_t(*length)));
        at += 8 + std::uint64_t(*length) + (*length & 1);
    }
    return Result<Bytes>::success(std::move(out));
}

// The header box (size, colour) and the codestream boxes at the top level of a JP2 file.
Result<Bytes> jp2Coded(ByteSpan file) {
    Bytes out;
    bool found = false;
    for (std::uint64_t at = 0; at < file.size();) {
        auto size = readU32(file, at, true);
        if (!size) return fail("JPEG 2000", "box at", at, "past the end of the file");
        std::uint64_t header = 8, length = *size;
        if (*size == 1) {
            auto large = readU64(file, at + 8, true);
            if (!large) return fail("JPEG 2000", "box at", at, "past the end of the file");
            header = 16;
            length = *large;
        } else if (*size == 0) {
            length = file.size() - at;
        }
        if (length < header || !subspan(file, at, length))
            return fail("JPEG 2000", "box length at", at, "past the end of the file or shorter than its header");
        if (std::memcmp(file.data() + at + 4, "jp2c", 4) == 0) found = true;
        if (found || std::memcmp(file.data() + at + 4, "jp2h", 4) == 0)
            if (std::memcmp(file.data() + at + 4, "uuid", 4) != 0) append(out, file.subspan(at, length));
        at += length;
    }
    if (!found) return Result<Bytes>::failure("JPEG 2000 file without a codestream box");
    return Result<Bytes>::success(std::move(out));
}

// The first image's strips (or tiles), in their order.
Result<Bytes> tiffCoded(ByteSpan file) {
    const bool be = startsWith(file, "MM");
    auto ifd = readU32(file, 4, be);
    auto count = ifd ? readU16(file, *ifd, be) : std::nullopt;
    if (!count) return fail("TIFF", "first directory at", ifd.value_or(4), "past the end of the file");
    // The offsets and byte counts of strips, else of tiles.
    struct Array { std::uint16_t type = 0; std::uint32_t count = 0, value = 0; std::uint64_t entry = 0; };
    Array arrays[4];  // StripOffsets, StripByteCounts, TileOffsets, TileByteCounts
    for (std::uint32_t i = 0; i < *count; ++i) {
        const std::uint64_t entry = *ifd + 2 + 12ull * i;
        auto tag = readU16(file, entry, be);
        auto type = readU16(file, entry + 2, be);
        auto n = readU32(file, entry + 4, be);
        auto value = readU32(file, entry + 8, be);
        if (!tag || !type || !n || !value) return fail("TIFF", "directory entry at", entry, "past the end of the file");
        const int slot = *tag == 273 ? 0 : *tag == 279 ? 1 : *tag == 324 ? 2 : *tag == 325 ? 3 : -1;
        if (slot >= 0) arrays[slot] = {*type, *n, *value, entry + 8};
    }
    const int first = arrays[0].count ? 0 : 2;
    const Array& offsets = arrays[first];
    const Array& sizes = arrays[first + 1];
    if (!offsets.count || offsets.count != sizes.count)
        return Result<Bytes>::failure("TIFF whose first image has no strips or tiles that match their byte counts");
    const auto element = [&](const Array& a, std::uint32_t i) -> std::optional<std::uint64_t> {
        const std::uint64_t width = a.type == 3 ? 2 : a.type == 4 ? 4 : 0;
        if (!width) return std::nullopt;
        const std::uint64_t base = width * a.count <= 4 ? a.entry : a.value;
        return readUnsigned(file, base + width * i, width, be);
    };
    Bytes out;
    for (std::uint32_t i = 0; i < offsets.count; ++i) {
        auto at = element(offsets, i);
        auto size = element(sizes, i);
        if (!at || !size || !subspan(file, *at, *size) || out.size() + *size > kMaxCleanBytes)
            return fail("TIFF", "strip or tile", i, "outside the file");
        append(out, file.subspan(*at, *size));
    }
    return Result<Bytes>::success(std::move(out));
}

}  // namespace

Result<CleanFormat> cleanableFormat(ByteSpan head) {
    using R = Result<CleanFormat>;
    if (startsWith(head, "\xFF\xD8\xFF")) return R::success(CleanFormat::Jpeg);
    if (startsWith(head, std::string_view("II*\0", 4)) || startsWith(head, std::string_view("MM\0*", 4)))
        return R::success(CleanFormat::Tiff);
    if (startsWith(head, "\x89PNG\r\n\x1A\n")) return R::success(CleanFormat::Png);
    if (startsWith(head, "RIFF") && head.size() >= 12 && std::memcmp(head.data() + 8, "WEBP", 4) == 0)
        return R::success(CleanFormat::WebP);
    if (startsWith(head, std::string_view("\0\0\0\x0CjP  \r\n\x87\n", 12))) return R::success(CleanFormat::Jp2);
    const auto kind = sniffImageKind(head);
    if (!kind) return R::failure("not a format Vesk can clean (JPEG, TIFF, PNG, WebP, JPEG 2000, HEIF, JPEG XL, CR3)");
    switch (*kind) {
    case ImageKind::BigTiff: return R::failure("BigTIFF files are not cleaned: Exiv2 cannot write them");
    case ImageKind::Jpeg2000: return R::failure("a bare JPEG 2000 codestream has no metadata to clean");
    case ImageKind::Heic:
    case ImageKind::Heif:
    case ImageKind::Avif: return R::success(CleanFormat::Heif);
    case ImageKind::JpegXl:
        if (!startsWith(head, std::string_view("\0\0\0\x0CJXL ", 8)))
            return R::failure("a bare JPEG XL codestream has no metadata boxes to clean");
        return R::success(CleanFormat::JpegXl);
    case ImageKind::Cr3: return R::success(CleanFormat::Cr3);
    default: break;
    }
    return R::failure("not a format Vesk can clean (JPEG, TIFF, PNG, WebP, JPEG 2000, HEIF, JPEG XL, CR3)");
}

Result<std::vector<std::uint8_t>> codedImageData(ByteSpan file, CleanFormat format) {
    switch (format) {
    case CleanFormat::Jpeg: return jpegImagesCoded(file);
    case CleanFormat::Png: return pngCoded(file);
    case CleanFormat::WebP: return webpCoded(file);
    case CleanFormat::Jp2: return jp2Coded(file);
    case CleanFormat::Tiff: return tiffCoded(file);
    case CleanFormat::Heif:
    case CleanFormat::JpegXl:
    case CleanFormat::Cr3: return outsideMetadata(file);
    }
    return Result<Bytes>::failure("unknown format");
}

}  // namespace vesk::platform::image
