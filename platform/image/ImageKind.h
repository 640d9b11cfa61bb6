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
};

// The most leading bytes sniffImageKind looks at.
inline constexpr std::size_t kImageSniffBytes = 12;

// What `head` (the file's first bytes) says, or nothing.
std::optional<ImageKind> sniffImageKind(ByteSpan head);

}  // namespace vesk::platform::image
