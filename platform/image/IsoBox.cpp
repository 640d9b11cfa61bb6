// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/IsoBox.h"

#include <array>

namespace vesk::platform::image {

std::optional<IsoBox> readIsoBox(const ByteSource& source, std::uint64_t pos, std::uint64_t limit) {
    limit = std::min(limit, source.size());
    std::array<std::uint8_t, 8> buf{};
    if (pos > limit || limit - pos < 8 || !source.read(pos, buf)) return std::nullopt;
    std::uint64_t length = *readU32(buf, 0, true);
    IsoBox box;
    box.type = *readU32(buf, 4, true);
    box.offset = pos;
    std::uint64_t headerLength = 8;
    if (length == 1) {  // a 64-bit length follows
        if (limit - pos < 16 || !source.read(pos + 8, buf)) return std::nullopt;
        length = *readU64(buf, 0, true);
        headerLength = 16;
    } else if (length == 0) {  // the box runs to the end
        length = limit - pos;
    }
    if (length < headerLength || length > limit - pos) return std::nullopt;
    box.contentOffset = pos + headerLength;
    box.contentLength = length - headerLength;
    return box;
}

std::vector<IsoBox> listIsoBoxes(const ByteSource& source, std::uint64_t begin, std::uint64_t end,
                                 std::size_t maxBoxes) {
    std::vector<IsoBox> boxes;
    for (std::uint64_t pos = begin; pos < end && boxes.size() < maxBoxes;) {
        const auto box = readIsoBox(source, pos, end);
        if (!box) break;
        boxes.push_back(*box);
        pos = box->end();
    }
    return boxes;
}

std::optional<std::vector<std::uint8_t>> readIsoBoxContent(const ByteSource& source, const IsoBox& box,
                                                           std::uint64_t maxBytes) {
    if (box.contentLength > maxBytes) return std::nullopt;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(box.contentLength));
    if (!source.read(box.contentOffset, out)) return std::nullopt;
    return out;
}

}  // namespace vesk::platform::image
