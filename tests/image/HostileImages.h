// SPDX-License-Identifier: GPL-3.0-or-later
// Inputs that once cost the image reader seconds and gigabytes, made on the
// spot: the budget tests and bench/bench_readers.cpp share them. Big files
// are sparse, so they cost nothing to make.
#pragma once

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

}  // namespace vesk::test::hostile
