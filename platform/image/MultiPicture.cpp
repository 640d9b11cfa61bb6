// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/MultiPicture.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace vesk::platform::image {

namespace {

constexpr std::uint16_t kNumberOfImages = 0xB001;
constexpr std::uint16_t kMpEntry = 0xB002;
constexpr std::size_t kEntrySize = 16;

}  // namespace

std::optional<MultiPictureIndex> multiPictureIndex(ByteSpan jpeg) {
    for (std::uint64_t at = 2; at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA;) {
        const std::uint64_t length = *readU16(jpeg, at + 2, true);
        if (length < 2) return std::nullopt;
        const auto body = subspan(jpeg, at + 4, length - 2);
        if (jpeg[at + 1] == 0xE2 && body && body->size() >= 12 && std::memcmp(body->data(), "MPF\0", 4) == 0) {
            MultiPictureIndex index;
            index.header = at + 8;
            const ByteSpan tiff = body->subspan(4);
            if (std::memcmp(tiff.data(), "MM\0*", 4) != 0 && std::memcmp(tiff.data(), "II*\0", 4) != 0)
                return std::nullopt;
            index.bigEndian = tiff[0] == 'M';
            const auto ifd = readU32(tiff, 4, index.bigEndian);
            const auto count = ifd ? readU16(tiff, *ifd, index.bigEndian) : std::nullopt;
            if (!count) return std::nullopt;
            std::optional<std::uint32_t> images, entriesAt, entriesBytes;
            for (std::uint32_t i = 0; i < *count; ++i) {
                const std::uint64_t entry = *ifd + 2 + 12ull * i;
                const auto tag = readU16(tiff, entry, index.bigEndian);
                if (tag == kNumberOfImages) images = readU32(tiff, entry + 8, index.bigEndian);
                if (tag == kMpEntry) {
                    entriesBytes = readU32(tiff, entry + 4, index.bigEndian);
                    entriesAt = readU32(tiff, entry + 8, index.bigEndian);
                }
            }
            // The entries must lie inside the segment: they are written again there.
            if (!images || !entriesAt || !entriesBytes || *images == 0 || *images > kMaxMultiPictures ||
                *entriesBytes != std::uint64_t{*images} * kEntrySize ||
                !subspan(tiff, *entriesAt, *entriesBytes))
                return std::nullopt;
            index.entries = index.header + *entriesAt;
            index.count = *images;
            return index;
        }
        at += 2 + length;
    }
    return std::nullopt;
}

Result<std::optional<MultiPicture>> readMultiPicture(ByteSpan jpeg) {
    using R = Result<std::optional<MultiPicture>>;
    const auto index = multiPictureIndex(jpeg);
    if (!index) return R::success(std::nullopt);
    MultiPicture mp;
    mp.index = *index;
    for (std::uint32_t i = 0; i < index->count; ++i) {
        const std::uint64_t entry = index->entries + kEntrySize * i;
        const std::uint64_t size = *readU32(jpeg, entry + 4, index->bigEndian);
        const std::uint64_t offset = *readU32(jpeg, entry + 8, index->bigEndian);
        const std::uint64_t at = i == 0 ? 0 : index->header + offset;
        const auto image = subspan(jpeg, at, size);
        if ((i == 0) != (offset == 0) || !image || size < 4 || (*image)[0] != 0xFF || (*image)[1] != 0xD8)
            return R::failure("its multi-picture index names image " + std::to_string(i + 1) +
                              " where the file holds no JPEG");
        if (i > 0 && at < mp.images.back().offset + mp.images.back().size)
            return R::failure("its multi-picture index has images that overlap or are out of order");
        mp.images.push_back({at, size});
    }
    return R::success(std::move(mp));
}

void writeMultiPicture(std::span<std::uint8_t> jpeg, const MultiPictureIndex& index,
                       const std::vector<MultiPicture::Image>& images) {
    for (std::size_t i = 0; i < images.size() && i < index.count; ++i) {
        const std::uint64_t entry = index.entries + kEntrySize * i;
        writeU32(jpeg, entry + 4, static_cast<std::uint32_t>(images[i].size), index.bigEndian);
        writeU32(jpeg, entry + 8, i == 0 ? 0 : static_cast<std::uint32_t>(images[i].offset - index.header),
                 index.bigEndian);
    }
}

}  // namespace vesk::platform::image
