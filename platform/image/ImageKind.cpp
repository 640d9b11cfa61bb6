#include "platform/image/ImageKind.h"

#include "platform/image/Jp2Header.h"
#include "platform/image/JpegHeader.h"

namespace vesk::platform::image {

std::optional<ImageKind> sniffImageKind(ByteSpan head) {
    if (isJpeg(head)) return ImageKind::Jpeg;
    if (isJp2(head) || isCodestream(head)) return ImageKind::Jpeg2000;
    // The byte order mark, then 42 (classic TIFF) or 43 (BigTIFF) in that order.
    const auto order = readU16(head, 0, true);
    if (order != 0x4949u && order != 0x4D4Du) return std::nullopt;
    const auto version = readU16(head, 2, *order == 0x4D4Du);
    if (version == 42u) return ImageKind::Tiff;
    if (version == 43u) return ImageKind::BigTiff;
    return std::nullopt;
}

}  // namespace vesk::platform::image
