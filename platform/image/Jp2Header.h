// SPDX-License-Identifier: GPL-3.0-or-later
// JPEG 2000 headers: the boxes of a JP2 file (image header, colour
// specification, channel definition) and the SIZ segment of a bare codestream.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Bytes.h"

namespace vesk::platform::image {

inline constexpr std::uint32_t JP2_SIGNATURE_BOX = 0x6A502020;  // 'jP  '
inline constexpr std::uint32_t JP2_HEADER_BOX = 0x6A703268;     // 'jp2h'
inline constexpr std::uint32_t JP2_IMAGE_HEADER_BOX = 0x69686472;  // 'ihdr'
inline constexpr std::uint32_t JP2_COLOUR_BOX = 0x636F6C72;     // 'colr'
inline constexpr std::uint32_t JP2_CHANNEL_DEF_BOX = 0x63646566;  // 'cdef'
inline constexpr std::uint32_t JP2_CODESTREAM_BOX = 0x6A703263;  // 'jp2c'
inline constexpr std::uint16_t J2K_SOC = 0xFF4F;
inline constexpr std::uint16_t J2K_SIZ = 0xFF51;

// Enumerated colour spaces of the 'colr' box (method 1).
inline constexpr std::uint32_t JP2_CS_CMYK = 12;
inline constexpr std::uint32_t JP2_CS_CIELAB = 14;
inline constexpr std::uint32_t JP2_CS_SRGB = 16;
inline constexpr std::uint32_t JP2_CS_GREY = 17;
inline constexpr std::uint32_t JP2_CS_SYCC = 18;

struct Jp2Header {
    std::uint32_t width = 0, height = 0;
    std::uint16_t components = 0;
    std::optional<std::uint8_t> depth;  // none when the components differ
    std::optional<std::string> colorModel;
    bool hasAlpha = false;
};

bool isJp2(ByteSpan head);        // a JP2 family file (signature box first)
bool isCodestream(ByteSpan head);  // a bare JPEG 2000 codestream

// Nothing when the header boxes (or the SIZ segment) are missing or malformed.
std::optional<Jp2Header> readJp2Header(const FileBytes& file);

}  // namespace vesk::platform::image
