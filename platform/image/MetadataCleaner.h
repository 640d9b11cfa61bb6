// SPDX-License-Identifier: GPL-3.0-or-later
// A photo's metadata taken out of a copy of its bytes: the places it names
// ("location") or everything the picture does not need to show right ("all").
// Works in memory only; writing the copy and checking it are the caller's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Bytes.h"
#include "platform/Result.h"

namespace vesk::platform::image {

enum class CleanLevel { Location, All };

// The formats whose metadata Exiv2's writer rewrites while leaving the coded
// picture as it was, and HEIF (HEIC, AVIF), JPEG XL and Canon CR3, blanked in place.
enum class CleanFormat { Jpeg, Tiff, Png, WebP, Jp2, Heif, JpegXl, Cr3 };

// A file larger than this is refused: the original, the copy and both coded
// pictures are held in memory while the copy is made and compared.
inline constexpr std::uint64_t kMaxCleanBytes = 256ull << 20;

// Which cleanable format the file starting with `head` (at least 16 bytes
// when the file has them) is, or why it cannot be cleaned.
Result<CleanFormat> cleanableFormat(ByteSpan head);

struct CleanedImage {
    std::vector<std::uint8_t> bytes;
    // What was taken out, in a few words each: "GPS (9 tags)", "XMP places (3 properties)".
    std::vector<std::string> removed;
};

// The file's bytes with the metadata of `level` removed (HEIF's, JPEG XL's
// and CR3's by cleanInPlace). Never throws and
// never writes to the log; an error says what Exiv2 or the format refused.
// With `comment`, the EXIF user comment goes too at the location level: the
// caller found that it names a place.
Result<CleanedImage> cleanWithExiv2(ByteSpan original, CleanFormat format, CleanLevel level, bool comment = false);

// How a copy's list of what was taken out names a user comment that named a place.
inline constexpr const char* kCommentNamingAPlace = "the comment, which names a place";

// The coded picture of a file: the bytes a metadata change must leave as they
// were (a JPEG's tables, frame and scans; PNG's header, palette and data
// chunks; WebP's bitstream chunks; a JP2's codestream; a TIFF's first image's
// strips or tiles; a HEIF, JPEG XL or CR3 file outside its metadata blocks). An error for a file whose structure is not walked whole.
Result<std::vector<std::uint8_t>> codedImageData(ByteSpan file, CleanFormat format);

}  // namespace vesk::platform::image
