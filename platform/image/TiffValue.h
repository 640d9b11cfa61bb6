// SPDX-License-Identifier: GPL-3.0-or-later
// Turns a TIFF/EXIF field (type, raw bytes in the file's byte order) into a
// property-list value, the same way for Exiv2's tags and Vesk's own readers.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/Value.h"
#include "platform/Bytes.h"

namespace vesk::platform::image {

enum TiffType : std::uint16_t {
    TIFF_BYTE = 1,
    TIFF_ASCII = 2,
    TIFF_SHORT = 3,
    TIFF_LONG = 4,
    TIFF_RATIONAL = 5,
    TIFF_SBYTE = 6,
    TIFF_UNDEFINED = 7,
    TIFF_SSHORT = 8,
    TIFF_SLONG = 9,
    TIFF_SRATIONAL = 10,
    TIFF_FLOAT = 11,
    TIFF_DOUBLE = 12,
    TIFF_IFD = 13,
    TIFF_LONG8 = 16,
    TIFF_SLONG8 = 17,
    TIFF_IFD8 = 18,
};

// Bytes per component; 0 for a type this reader does not know.
unsigned tiffTypeSize(std::uint16_t type);

// Longer lists are left out: no tag worth showing has more, and a corrupt
// count must not turn into a dictionary of millions of numbers.
inline constexpr std::uint64_t kMaxListLength = 4096;
// Undefined data longer than this is left out rather than shown as bytes.
inline constexpr std::size_t kMaxUndefinedBytes = 64;

// The value of one field, or nothing when it has nothing to say (empty text,
// long undefined data, an unknown type, an oversized list). `tagName` selects
// the version and ComponentsConfiguration forms of undefined data.
std::optional<Value> tiffValue(std::uint16_t type, ByteSpan bytes, bool bigEndian, std::string_view tagName);

// "0231" -> [2, 3, 1], "0100" -> [1, 0]: major, minor, and a non-zero patch.
std::optional<Value> versionValue(ByteSpan bytes);

// ASCII text up to the first NUL with invalid UTF-8 replaced; trailing blanks kept.
std::string asciiText(ByteSpan bytes);

}  // namespace vesk::platform::image
