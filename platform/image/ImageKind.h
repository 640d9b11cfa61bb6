// SPDX-License-Identifier: GPL-3.0-or-later
// The image kinds told apart by their first bytes. The type service and the
// image source both ask here, so the two never disagree about a file.
#pragma once

#include <cstddef>
#include <optional>

#include "platform/Bytes.h"

namespace vesk::platform::image {

enum class ImageKind {
    Jpeg,
    Jpeg2000,  // a JP2 family file or a bare codestream
    Tiff,
    BigTiff,
    // ISO base media files told apart by their 'ftyp' brand.
    Heic,  // HEIF holding HEVC (iPhone photos, Canon and Sony .HIF)
    Heif,  // HEIF of another or an unnamed codec ('mif1' first)
    Avif,  // HEIF holding AV1
    Cr3,   // Canon raw, version 3
    JpegXl,  // a JPEG XL codestream or container
};

// The most leading bytes sniffImageKind looks at.
inline constexpr std::size_t kImageSniffBytes = 12;

// Whether a kind is read through the HEIF library.
inline bool isHeifFamily(ImageKind kind) {
    return kind == ImageKind::Heic || kind == ImageKind::Heif || kind == ImageKind::Avif;
}

// A JPEG XL file: its container's signature box, or a bare codestream's signature.
bool isJpegXl(ByteSpan head);

// What `head` (the file's first bytes) says, or nothing.
std::optional<ImageKind> sniffImageKind(ByteSpan head);

}  // namespace vesk::platform::image
