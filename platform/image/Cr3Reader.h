// SPDX-License-Identifier: GPL-3.0-or-later
// Canon CR3: an ISO base media file whose 'moov' box holds Canon's 'uuid'
// box with the EXIF in four TIFF blocks (CMT1 IFD0, CMT2 the EXIF IFD, CMT3
// the Canon maker note, CMT4 GPS), and tracks whose first sample entry
// ('CRAW') gives the main image's size. The blocks are joined into one TIFF
// structure, as a JPEG would carry them, for the common EXIF conversion.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Bytes.h"
#include "platform/image/IsoBox.h"

namespace vesk::platform::image {

// Canon's box in 'moov' with the CMT blocks and the thumbnail (THMB), and
// the top-level box with the XMP packet.
inline constexpr std::array<std::uint8_t, 16> kCanonUuid = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                                                            0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};
inline constexpr std::array<std::uint8_t, 16> kXmpUuid = {0xbe, 0x7a, 0xcf, 0xcb, 0x97, 0xa9, 0x42, 0xe8,
                                                          0x9c, 0x71, 0x99, 0x94, 0x91, 0xe3, 0xaf, 0xac};

// Whether `box` is a 'uuid' box with this ID.
bool isUuidBox(const ByteSource& file, const IsoBox& box, const std::array<std::uint8_t, 16>& uuid);

inline constexpr std::size_t kMaxCr3Boxes = 256;     // at each level walked
inline constexpr std::uint64_t kMaxCr3BlockBytes = 4 << 20;  // each CMT block
inline constexpr std::size_t kMaxCr3IfdEntries = 1024;

struct Cr3Image {
    std::uint32_t width = 0, height = 0;  // the largest image of the tracks; 0 when none
    std::vector<std::uint8_t> exifTiff;   // the joined TIFF structure; empty when CMT1 is missing
    std::string xmp;
    std::string budgetCut;
};

// Nothing when the file is no CR3.
std::optional<Cr3Image> readCr3(const ByteSource& file);

// The CMT blocks (each starting at its TIFF header; any may be empty) joined
// into one TIFF structure in CMT1's byte order: IFD0 pointing at the EXIF
// and GPS IFDs, the EXIF IFD holding the maker note. Empty when CMT1 is no
// TIFF block. Values copied total at most 8 MB (entries past that are left
// out), so the result stays well within what Exiv2 is handed. Exposed for the tests.
std::vector<std::uint8_t> joinCanonTiffBlocks(ByteSpan cmt1, ByteSpan cmt2, ByteSpan cmt3, ByteSpan cmt4);

}  // namespace vesk::platform::image
