// SPDX-License-Identifier: GPL-3.0-or-later
// Exiv2 copies every out-of-line value of a TIFF structure twice while it
// reads it, once per entry, however many entries point at the same bytes: 250
// entries naming one 1 MB block cost it half a gigabyte. Before Exiv2 sees a
// TIFF structure (a TIFF file, a JPEG's Exif block), the counts of the
// entries it would copy are rewritten in place so that the copies stay
// within a budget.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <utility>

namespace vesk::platform::image {

struct TiffValueCaps {
    std::uint64_t shortenedTexts = 0;  // ASCII values shortened to the text budget
    std::uint64_t droppedValues = 0;   // values left out whole (count set to 0)
    std::uint64_t droppedBytes = 0;
    // Exiv2 group name ("Image", "Photo", "GPSInfo") and tag of each shortened
    // text -> its size in the file, so that the reader can say how much was cut.
    std::map<std::pair<std::string, std::uint16_t>, std::uint64_t> textSizes;
};

// `tiff` starts at a TIFF header ("II*\0" or "MM\0*"). ASCII values longer
// than `maxTextBytes` keep `maxTextBytes + 1` bytes (one more than is shown,
// so the reader sees that they were cut); then, smallest first, values are
// admitted while their sizes sum to at most `maxTotalBytes`, and the rest get
// a count of 0. Entries are counted each time they appear, shared or not.
// The IFD0 chain, the Exif, GPS, interoperability and sub-IFDs, and the maker
// note's directories (for the makers whose notes Exiv2 reads as IFDs) are
// walked, each once. Bytes of anything that is no TIFF stay as they are.
TiffValueCaps capTiffValues(std::span<std::uint8_t> tiff, std::uint64_t maxTextBytes, std::uint64_t maxTotalBytes);

}  // namespace vesk::platform::image
