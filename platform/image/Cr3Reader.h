// SPDX-License-Identifier: GPL-3.0-or-later
// Canon CR3: an ISO base media file whose 'moov' box holds Canon's 'uuid'
// box with the EXIF in four TIFF blocks (CMT1 IFD0, CMT2 the EXIF IFD, CMT3
// the Canon maker note, CMT4 GPS), and tracks whose first sample entry
// ('CRAW') gives the main image's size. The blocks are joined into one TIFF
// structure, as a JPEG would carry them, for the common EXIF conversion.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Bytes.h"

namespace vesk::platform::image {

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
