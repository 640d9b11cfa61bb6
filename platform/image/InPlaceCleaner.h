// SPDX-License-Identifier: GPL-3.0-or-later
// HEIF (HEIC, AVIF), JPEG XL containers and Canon CR3 cleaned in place: the
// copy has the original's length and layout, its metadata blocks blanked
// where they lie.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/image/MetadataCleaner.h"

namespace vesk::platform::image {

// The bytes of `original` with the metadata of `level` blanked, or why not;
// with `comment`, the EXIF user comment goes too at the location level.
Result<CleanedImage> cleanInPlace(ByteSpan original, CleanLevel level, bool comment = false);

// The file with its metadata blocks (Exif, XMP, a CR3's CMT blocks and
// thumbnail box) zeroed: what a cleaning in place must leave byte for byte.
Result<std::vector<std::uint8_t>> outsideMetadata(ByteSpan file);

}  // namespace vesk::platform::image
