// SPDX-License-Identifier: GPL-3.0-or-later
// Inputs that once cost the image reader seconds and gigabytes, made on the
// spot: the budget tests and bench/bench_readers.cpp share them. Big files
// are sparse, so they cost nothing to make.
#pragma once

#include <brotli/encode.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vesk::test::hostile {

inline void le16(std::string& b, std::uint16_t v) { b += char(v & 0xFF), b += char(v >> 8); }
inline void le32(std::string& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b += char((v >> (8 * i)) & 0xFF);
}
inline void be16(std::string& b, std::uint16_t v) { b += char(v >> 8), b += char(v & 0xFF); }
inline void be32(std::string& b, std::uint32_t v) {
    for (int i = 3; i >= 0; --i) b += char((v >> (8 * i)) & 0xFF);
}

// A little-endian TIFF whose `tags` ASCII entries (unknown tag numbers, in
// IFD0, the Exif IFD and the GPS IFD, at most 240 in each, as Exiv2 refuses
// bigger directories) all name one block of `blockBytes`: 'A's ending in a
// NUL, or nothing when `sparseBlock`, left for the caller to extend with zeros.
inline std::string sharedBlockTiff(unsigned tags, std::uint32_t blockBytes, bool sparseBlock = false) {
    unsigned per[3];
    for (unsigned k = 0; k < 3; ++k) per[k] = std::min(240u, tags > 240 * k ? tags - 240 * k : 0u);
    const std::uint32_t sizes[3] = {2 + 12 * (per[0] + 2) + 4, 2 + 12 * per[1] + 4, 2 + 12 * per[2] + 4};
    const std::uint32_t at[3] = {8, 8 + sizes[0], 8 + sizes[0] + sizes[1]};
    const std::uint32_t block = at[2] + sizes[2];
    std::string b = "II*";
    b += '\0';
    le32(b, 8);
    std::uint16_t tag = 0x1000;
    for (unsigned k = 0; k < 3; ++k) {
        le16(b, static_cast<std::uint16_t>(per[k] + (k == 0 ? 2 : 0)));
        for (unsigned i = 0; i < per[k]; ++i) le16(b, tag++), le16(b, 2), le32(b, blockBytes), le32(b, block);
        if (k == 0) {
            le16(b, 0x8769), le16(b, 4), le32(b, 1), le32(b, at[1]);  // ExifTag
            le16(b, 0x8825), le16(b, 4), le32(b, 1), le32(b, at[2]);  // GPSTag
        }
        le32(b, 0);
    }
    if (!sparseBlock) b += std::string(blockBytes - 1, 'A') + '\0';
    return b;
}

// A little-endian TIFF whose Exif IFD holds one maker note, made by
// `note(at)` for the note's offset `at` in the file (offsets in the note may
// count from the TIFF header), after a Make of `make` (at most 15 bytes).
template <typename Note>
inline std::string makerNoteTiff(const std::string& make, Note note) {
    constexpr std::uint32_t exifAt = 8 + 2 + 2 * 12 + 4, makeAt = exifAt + 2 + 12 + 4, noteAt = makeAt + 16;
    const std::string body = note(noteAt);
    std::string b = "II*";
    b += '\0';
    le32(b, 8);
    le16(b, 2);
    le16(b, 0x010F), le16(b, 2), le32(b, 16), le32(b, makeAt);  // Make
    le16(b, 0x8769), le16(b, 4), le32(b, 1), le32(b, exifAt);   // ExifTag
    le32(b, 0);
    le16(b, 1);
    le16(b, 0x927C), le16(b, 7), le32(b, static_cast<std::uint32_t>(body.size())), le32(b, noteAt);  // MakerNote
    le32(b, 0);
    b += make.substr(0, 15) + std::string(16 - std::min<std::size_t>(make.size(), 15), '\0');
    return b + body;
}

// A Canon note (an IFD counting from the TIFF header) of `tags` texts all
// naming one block of `blockBytes`, zeros left for the caller when sparse.
inline std::string sharedBlockCanonTiff(unsigned tags, std::uint32_t blockBytes) {
    return makerNoteTiff("Canon", [&](std::uint32_t at) {
        std::string n;
        le16(n, static_cast<std::uint16_t>(tags));
        for (unsigned i = 0; i < tags; ++i) le16(n, static_cast<std::uint16_t>(0x100 + i)), le16(n, 2), le32(n, blockBytes), le32(n, at + 2 + 12 * tags + 4);
        le32(n, 0);
        return n;
    });
}

// An Apple note (a big-endian IFD counting from the note) of `tags` texts all
// naming one block of `blockBytes` 'A's.
inline std::string sharedBlockAppleTiff(unsigned tags, std::uint32_t blockBytes) {
    return makerNoteTiff("Apple", [&](std::uint32_t) {
        std::string n("Apple iOS\0\0\1MM", 14);
        be16(n, static_cast<std::uint16_t>(tags));
        for (unsigned i = 0; i < tags; ++i) be16(n, static_cast<std::uint16_t>(0x100 + i)), be16(n, 2), be32(n, blockBytes), be32(n, 14 + 2 + 12 * tags);
        return n + std::string(blockBytes, 'A');
    });
}

inline std::string jpegSegment(std::uint8_t marker, const std::string& payload) {
    std::string s{char(0xFF), char(marker)};
    be16(s, static_cast<std::uint16_t>(payload.size() + 2));
    return s + payload;
}

// A baseline frame header (16x16, three components) and an empty scan.
inline std::string jpegFrameAndScan() {
    const std::string sof{8, 0, 16, 0, 16, 3, 1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0};
    return jpegSegment(0xC0, sof) + std::string{char(0xFF), char(0xDA)} + std::string(10, '\0') +
           std::string{char(0xFF), char(0xD9)};
}

// A JPEG of about 64 KB whose Exif block holds `tags` texts naming one block.
inline std::string sharedBlockJpeg(unsigned tags = 720, std::uint32_t blockBytes = 55000) {
    return std::string{char(0xFF), char(0xD8)} +
           jpegSegment(0xE1, std::string("Exif\0\0", 6) + sharedBlockTiff(tags, blockBytes)) + jpegFrameAndScan();
}

// `pieces` ICC profile pieces of about 64 KB, after `fillers` tiny APP15
// segments, then a frame and scan only when `scan`.
inline std::string iccPiecesJpeg(unsigned pieces, unsigned fillers, bool scan) {
    std::string b{char(0xFF), char(0xD8)};
    for (unsigned i = 0; i < fillers; ++i) b += jpegSegment(0xEF, "xx");
    for (unsigned i = 1; i <= pieces; ++i)
        b += jpegSegment(0xE2, std::string("ICC_PROFILE", 12) + char(i) + char(pieces) + std::string(65500, 'y'));
    if (scan) b += jpegFrameAndScan();
    return b;
}

// Headers of the formats Exiv2 reads whole or by claimed chunk size, each
// claiming far more than any metadata needs.
inline std::string epsHead() { return "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\n"; }
inline std::string psdHead() {
    std::string b = "8BPS";
    be16(b, 1), b += std::string(6, '\0'), be16(b, 3), be32(b, 16), be32(b, 16), be16(b, 8), be16(b, 3);
    be32(b, 0);  // colour mode data
    be32(b, 0xFFFFFFF0u), b += "8BIM", be16(b, 0x0404), b += std::string(2, '\0'), be32(b, 0x7FFFFFF0u);
    return b;
}
inline std::string pngHead() {
    std::string b = "\x89PNG\r\n\x1a\n";
    be32(b, 13), b += "IHDR", be32(b, 16), be32(b, 16), b += std::string{8, 2, 0, 0, 0}, b += std::string(4, '\0');
    be32(b, 0x7FFFFFF0u), b += "tEXtComment";
    b += '\0';
    return b;
}
inline std::string crwHead() {
    std::string b = "II";
    le32(b, 26), b += "HEAPCCDR", le16(b, 1), le16(b, 2), b += std::string(8, '\0');
    return b;
}

// `head`, then zeros up to `size` bytes without writing them.
inline std::string writeSparse(const std::filesystem::path& path, const std::string& head, std::uint64_t size) {
    std::ofstream(path, std::ios::binary) << head;
    std::filesystem::resize_file(path, size);
    return path.string();
}

inline std::string beN(std::uint64_t v, int n) {
    std::string b;
    while (n--) b += char((v >> (8 * n)) & 0xFF);
    return b;
}
inline std::string isoBox(const char* type, const std::string& content) {
    std::string b;
    be32(b, static_cast<std::uint32_t>(8 + content.size()));
    return b.append(type, 4) + content;
}
inline std::string fullBox(const char* type, const std::string& content) { return isoBox(type, std::string(4, '\0') + content); }

// A HEIF file of a few hundred KB at most that once cost seconds to
// gigabytes: primary item 1 (64 x 48), item 2 its alpha named by `auxRefs`
// references and carrying `auxProps` property associations, then `exifs` Exif
// items and `xmps` deflate-compressed XMP items, all naming one block whose
// Exif says Make "Vesk". `crop` adds a clean aperture libheif refuses.
inline std::string heifRunaway(unsigned exifs, unsigned xmps, unsigned auxRefs, unsigned auxProps, bool crop) {
    using namespace std::string_literals;
    const auto build = [&](std::uint64_t data) {
        std::string infos, places, refs, assoc = beN(1, 2) + "\x03\x81\x82"s + (crop ? '\x83' : '\x82');
        const std::uint32_t items = 2 + exifs + xmps;
        for (std::uint32_t id = 1; id <= items; ++id) {
            const std::string type = id <= 2 ? "hvc1\0"s : id <= 2 + exifs ? "Exif\0"s : "mime\0application/rdf+xml\0deflate\0"s;
            infos += isoBox("infe", "\x02\0\0\0"s + beN(id, 2) + beN(0, 2) + type + '\0');
            places += beN(id, 2) + beN(0, 2) + beN(1, 2) + beN(data, 8) + beN(id <= 2 ? 16 : 64, 8);
            if (id > 2) refs += isoBox("cdsc", beN(id, 2) + beN(1, 2) + beN(1, 2));
        }
        for (unsigned i = 0; i < auxRefs; ++i) refs += isoBox("auxl", beN(2, 2) + beN(1, 2) + beN(1, 2));
        for (unsigned left = auxProps; left > 0; left -= std::min(left, 255u))
            assoc += beN(2, 2) + beN(std::min(left, 255u), 1) + std::string(std::min(left, 255u), '\x81');
        const std::string props = isoBox("hvcC", '\x01' + std::string(22, '\0')) + fullBox("ispe", beN(64, 4) + beN(48, 4)) +
                                  isoBox("clap", std::string(32, '\0'));
        return isoBox("ftyp", "heic\0\0\0\0mif1heic"s) +
               fullBox("meta", fullBox("hdlr", beN(0, 4) + "pict" + std::string(13, '\0')) + fullBox("pitm", beN(1, 2)) +
                                   fullBox("iinf", beN(items, 2) + infos) + fullBox("iloc", beN(0x8800, 2) + beN(items, 2) + places) +
                                   fullBox("iref", refs) +
                                   isoBox("iprp", isoBox("ipco", props) + fullBox("ipma", beN(1 + (auxProps + 254) / 255, 4) + assoc)));
    };
    const std::string exif = "\0\0\0\0II*\0\x08\0\0\0\x01\0\x0F\x01\x02\0\x05\0\0\0\x1A\0\0\0\0\0\0\0Vesk\0"s;
    return build(build(0).size() + 8) + isoBox("mdat", exif + std::string(64, '\0'));
}

// A JPEG XL file of `boxes` Brotli boxes, each expanding to one byte past the
// 16 MB metadata budget; with `found`, an Exif and an XMP box come first.
inline std::string brobChain(unsigned boxes, bool found) {
    using namespace std::string_literals;
    const std::string big((16 << 20) + 1, 'a');
    std::string packed(1 << 16, '\0');
    std::size_t size = packed.size();
    if (!BrotliEncoderCompress(5, BROTLI_MAX_WINDOW_BITS, BROTLI_MODE_GENERIC, big.size(),
                               reinterpret_cast<const std::uint8_t*>(big.data()), &size,
                               reinterpret_cast<std::uint8_t*>(packed.data())))
        return {};
    packed.resize(size);
    std::string b = "\0\0\0\x0CJXL \x0D\x0A\x87\x0A"s + isoBox("jxlc", "\xFF\x0A\0\0"s);
    if (found) b += isoBox("Exif", "\0\0\0\0II*"s) + isoBox("xml ", "<x:xmpmeta/>");
    const std::string bomb = isoBox("brob", "xml " + packed);
    for (unsigned i = 0; i < boxes; ++i) b += bomb;
    return b;
}

// Every file above under a name, as the bench writes them: head and size.
struct HostileFile {
    const char* name;
    std::string head;
    std::uint64_t size;
};
inline std::vector<HostileFile> hostileFiles() {
    const auto exact = [](const char* name, std::string bytes) {
        const auto size = bytes.size();
        return HostileFile{name, std::move(bytes), size};
    };
    const std::string tiff15 = sharedBlockTiff(250, 15 << 20, true), canon15 = sharedBlockCanonTiff(250, 15 << 20);
    return {
        exact("shared-block-64k.jpg", sharedBlockJpeg()),
        exact("shared-block-1mb.tif", sharedBlockTiff(250, 1 << 20)),
        {"shared-block-15mb.tif", tiff15, tiff15.size() + (15 << 20)},
        {"canon-note-shared-15mb.tif", canon15, canon15.size() + (15 << 20)},
        exact("apple-note-20000-texts.tif", sharedBlockAppleTiff(20000, 700 << 10)),
        exact("icc-255-pieces-no-scan.jpg", iccPiecesJpeg(255, 0, false)),
        exact("icc-after-5000-segments.jpg", iccPiecesJpeg(255, 5000, true)),
        {"sparse-1gb.eps", epsHead(), std::uint64_t{1} << 30},
        {"sparse-3gb.psd", psdHead(), std::uint64_t{3} << 30},
        {"sparse-2gb.png", pngHead(), (std::uint64_t{1} << 31) + 64},
        {"sparse-1gb.crw", crwHead(), std::uint64_t{1} << 30},
        exact("heif-1000-alpha-refs-100000-props.heic", heifRunaway(1, 0, 1000, 100000, false)),
        exact("heif-5000-exif-one-block.heic", heifRunaway(5000, 1, 0, 0, false)),
        exact("heif-8-compressed-xmp.heic", heifRunaway(1, 8, 0, 0, false)),
        exact("heif-crop-libheif-refuses.heic", heifRunaway(1, 0, 0, 0, true)),
        exact("jxl-4000-brob-boxes.jxl", brobChain(4000, false)),
    };
}

}  // namespace vesk::test::hostile
