// SPDX-License-Identifier: GPL-3.0-or-later
// HEIF (HEIC, AVIF) and JPEG XL containers cleaned in place: the copy has
// the original's length and layout, its metadata blocks blanked where they lie.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/image/MetadataCleaner.h"

namespace vesk::platform::image {

// The bytes of `original` with its location blanked; "all" is refused.
Result<CleanedImage> cleanInPlace(ByteSpan original, CleanLevel level);

// The file with its Exif and XMP blocks zeroed: what a cleaning in place must
// leave byte for byte.
Result<std::vector<std::uint8_t>> outsideMetadata(ByteSpan file);

}  // namespace vesk::platform::image
