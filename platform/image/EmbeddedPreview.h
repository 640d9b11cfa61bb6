// SPDX-License-Identifier: GPL-3.0-or-later
// The pictures a photo carries of itself (an EXIF thumbnail, a raw file's
// JPEG previews), for the window's preview. Implemented beside the Exiv2
// adapter, the one source file that includes Exiv2.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vesk::platform::image {

struct EmbeddedPreview {
    std::string bytes;  // a JPEG, PNG or TIFF, as the file holds it
    std::uint32_t width = 0, height = 0;
    int orientation = 1;  // the photo's EXIF orientation, which the preview's pixels do not carry out
};

// The largest embedded picture of at most `maxBytes`, read as readWithExiv2
// reads the file (a TIFF's values capped, any other file through its first
// kMaxExivWindowBytes). Nothing when the file has none; never throws.
std::optional<EmbeddedPreview> embeddedPreview(const std::string& path, std::size_t maxBytes);

}  // namespace vesk::platform::image
