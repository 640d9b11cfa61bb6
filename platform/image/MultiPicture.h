// SPDX-License-Identifier: GPL-3.0-or-later
// A JPEG's multi-picture index (CIPA's MPF, an APP2 segment of the first
// image): where each further image (a camera's preview, a depth or gain map)
// lies in the file. Each one is a whole JPEG with metadata of its own, so a
// clean copy cleans each and writes the index again.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Bytes.h"
#include "platform/Result.h"

namespace vesk::platform::image {

// More images than a camera or phone writes into one file.
inline constexpr std::uint32_t kMaxMultiPictures = 64;

struct MultiPictureIndex {
    std::uint64_t header = 0;   // the index's TIFF header: further images' offsets count from it
    std::uint64_t entries = 0;  // the first 16-byte entry (attribute, size, offset, two dependents)
    std::uint32_t count = 0;
    bool bigEndian = false;
};

struct MultiPicture {
    MultiPictureIndex index;
    struct Image {
        std::uint64_t offset = 0, size = 0;  // in the file; the first image's offset is 0
    };
    std::vector<Image> images;  // in the index's order
};

// The index of `jpeg` as it stands, without looking at the images it points
// to; nothing when the first image (before its scan) has none.
std::optional<MultiPictureIndex> multiPictureIndex(ByteSpan jpeg);

// The images the index names, each a JPEG within the file after the first
// image and apart from the others; nothing when there is no index, an error
// for one that points elsewhere.
Result<std::optional<MultiPicture>> readMultiPicture(ByteSpan jpeg);

// Writes the sizes and offsets of `images` (in the file, the first at 0)
// into the index at `index` in `jpeg`.
void writeMultiPicture(std::span<std::uint8_t> jpeg, const MultiPictureIndex& index,
                       const std::vector<MultiPicture::Image>& images);

}  // namespace vesk::platform::image
