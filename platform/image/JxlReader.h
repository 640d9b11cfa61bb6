// SPDX-License-Identifier: GPL-3.0-or-later
// JPEG XL: the codestream's size header (in a bare codestream, or in the
// container's 'jxlc' or first 'jxlp' box) and the container's 'Exif' and
// 'xml ' boxes, also when Brotli-compressed in a 'brob' box.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Bytes.h"

namespace vesk::platform::image {

// Boxes walked at the top level of a container (a codestream may come in
// many 'jxlp' parts; metadata boxes lie anywhere among them).
inline constexpr std::size_t kMaxJxlBoxes = 4096;
// A metadata box, compressed or not, is read only up to this, and a
// compressed one is never expanded past it.
inline constexpr std::uint64_t kMaxJxlMetadataBytes = 16 << 20;
// What the metadata boxes of one file may cost to read in all.
inline constexpr std::uint64_t kMaxJxlReadBytes = 64 << 20;

struct JxlImage {
    std::uint32_t width = 0, height = 0;  // 0 when the header could not be read
    std::optional<std::uint8_t> depth;
    std::vector<std::uint8_t> exifTiff;  // from the TIFF header on
    std::string xmp;
    std::string budgetCut;  // empty when nothing was left out
};

// Nothing when the file is no JPEG XL.
std::optional<JxlImage> readJxl(const ByteSource& file);

// The size and depth from a codestream's first bytes (starting at its
// FF 0A signature); exposed for the tests.
bool readJxlSizeHeader(ByteSpan codestream, JxlImage& out);

// Brotli data expanded to at most `maxBytes`; nothing when it is corrupt or
// would be larger. `expanded`, when given, is told how many bytes were made,
// whichever way it ended.
std::optional<std::vector<std::uint8_t>> brotliDecompress(ByteSpan compressed, std::size_t maxBytes,
                                                          std::size_t* expanded = nullptr);

}  // namespace vesk::platform::image
