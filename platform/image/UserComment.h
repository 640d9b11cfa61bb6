// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding of the EXIF UserComment: an 8-byte character code, then the text.
#pragma once

#include <string>

#include "platform/Bytes.h"

namespace vesk::platform::image {

// The comment as UTF-8 text, without its character code and without trailing
// NULs and blanks. `tiffBigEndian` is the byte order of the TIFF header the
// comment came in, the first guess for UNICODE text without a byte-order mark.
std::string decodeUserComment(ByteSpan raw, bool tiffBigEndian);

}  // namespace vesk::platform::image
