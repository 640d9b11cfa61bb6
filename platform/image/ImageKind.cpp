// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/ImageKind.h"

#include <cstring>
#include <string_view>

#include "platform/image/Jp2Header.h"
#include "platform/image/JpegHeader.h"

namespace vesk::platform::image {
namespace {

// The major brand of a leading 'ftyp' box: the only brand within the first
// 12 bytes, and the one writers set to the file's kind.
std::optional<ImageKind> kindOfBrand(ByteSpan head) {
    if (head.size() < 12 || std::memcmp(head.data() + 4, "ftyp", 4) != 0) return std::nullopt;
    const std::string_view brand(reinterpret_cast<const char*>(head.data()) + 8, 4);
    for (std::string_view b : {"heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs"})
        if (brand == b) return ImageKind::Heic;
    if (brand == "mif1" || brand == "msf1" || brand == "mif2") return ImageKind::Heif;
    if (brand == "avif" || brand == "avis") return ImageKind::Avif;
    if (brand == "crx ") return ImageKind::Cr3;
    return std::nullopt;
}

}  // namespace

bool isJpegXl(ByteSpan head) {
    static constexpr std::uint8_t kContainer[] = {0, 0, 0, 12, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    if (head.size() >= sizeof kContainer && std::memcmp(head.data(), kContainer, sizeof kContainer) == 0) return true;
    return head.size() >= 2 && head[0] == 0xFF && head[1] == 0x0A;
}

std::optional<ImageKind> sniffImageKind(ByteSpan head) {
    if (isJpeg(head)) return ImageKind::Jpeg;
    if (isJp2(head) || isCodestream(head)) return ImageKind::Jpeg2000;
    if (isJpegXl(head)) return ImageKind::JpegXl;
    if (auto kind = kindOfBrand(head)) return kind;
    // The byte order mark, then 42 (classic TIFF) or 43 (BigTIFF) in that order.
    const auto order = readU16(head, 0, true);
    if (order != 0x4949u && order != 0x4D4Du) return std::nullopt;
    const auto version = readU16(head, 2, *order == 0x4D4Du);
    if (version == 42u) return ImageKind::Tiff;
    if (version == 43u) return ImageKind::BigTiff;
    return std::nullopt;
}

}  // namespace vesk::platform::image
