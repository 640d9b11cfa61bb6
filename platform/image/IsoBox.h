// SPDX-License-Identifier: GPL-3.0-or-later
// Boxes of the ISO base media file family (JPEG 2000, JPEG XL's container,
// HEIF, Canon CR3): a 32-bit size and a four-character type, a 64-bit size
// when the first is 1, "to the end" when it is 0. Read from any byte source,
// each box checked to end within its parent.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/Bytes.h"

namespace vesk::platform::image {

struct IsoBox {
    std::uint32_t type = 0;
    std::uint64_t offset = 0;  // of the box's header
    std::uint64_t contentOffset = 0, contentLength = 0;
    std::uint64_t end() const { return contentOffset + contentLength; }
};

constexpr std::uint32_t fourcc(const char (&s)[5]) {
    return std::uint32_t(std::uint8_t(s[0])) << 24 | std::uint32_t(std::uint8_t(s[1])) << 16 |
           std::uint32_t(std::uint8_t(s[2])) << 8 | std::uint32_t(std::uint8_t(s[3]));
}

// The box at `pos`, which must end by `limit`; nothing when it does not.
std::optional<IsoBox> readIsoBox(const ByteSource& source, std::uint64_t pos, std::uint64_t limit);

// The boxes from `begin` to `end`, in order, at most `maxBoxes` of them; the
// walk stops at the first box that does not fit.
std::vector<IsoBox> listIsoBoxes(const ByteSource& source, std::uint64_t begin, std::uint64_t end,
                                 std::size_t maxBoxes);

// A box's content, or nothing when it is larger than `maxBytes` or not all there.
std::optional<std::vector<std::uint8_t>> readIsoBoxContent(const ByteSource& source, const IsoBox& box,
                                                           std::uint64_t maxBytes);

}  // namespace vesk::platform::image
