// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Bytes.h"

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/FileSystem.h"

namespace vesk::platform {
namespace {

constexpr bool kHostBigEndian = std::endian::native == std::endian::big;

bool fits(ByteSpan bytes, std::uint64_t offset, std::uint64_t length) {
    // Subtract, never add: offset + length can wrap near the top of the range.
    return offset <= bytes.size() && bytes.size() - offset >= length;
}

// The bytes as stored, turned into the host's order.
template <typename T>
std::optional<T> load(ByteSpan bytes, std::uint64_t offset, bool bigEndian) {
    if (!fits(bytes, offset, sizeof(T))) return std::nullopt;
    T v;
    std::memcpy(&v, bytes.data() + offset, sizeof v);
    if (bigEndian == kHostBigEndian) return v;
    if constexpr (sizeof(T) == 2) return __builtin_bswap16(v);
    if constexpr (sizeof(T) == 4) return __builtin_bswap32(v);
    if constexpr (sizeof(T) == 8) return __builtin_bswap64(v);
}

}  // namespace

std::optional<std::uint8_t> readU8(ByteSpan bytes, std::uint64_t offset) {
    if (!fits(bytes, offset, 1)) return std::nullopt;
    return bytes[offset];
}

std::optional<std::uint16_t> readU16(ByteSpan bytes, std::uint64_t offset, bool bigEndian) {
    return load<std::uint16_t>(bytes, offset, bigEndian);
}

std::optional<std::uint32_t> readU32(ByteSpan bytes, std::uint64_t offset, bool bigEndian) {
    return load<std::uint32_t>(bytes, offset, bigEndian);
}

void writeU16(std::span<std::uint8_t> bytes, std::uint64_t offset, std::uint16_t value, bool bigEndian) {
    for (int i = 0; i < 2; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (bigEndian ? 8 * (1 - i) : 8 * i));
}

void writeU32(std::span<std::uint8_t> bytes, std::uint64_t offset, std::uint32_t value, bool bigEndian) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (bigEndian ? 8 * (3 - i) : 8 * i));
}

std::optional<std::uint64_t> readU64(ByteSpan bytes, std::uint64_t offset, bool bigEndian) {
    return load<std::uint64_t>(bytes, offset, bigEndian);
}

std::optional<std::uint64_t> readUnsigned(ByteSpan bytes, std::uint64_t offset, std::size_t width, bool bigEndian) {
    if (width < 1 || width > 8 || !fits(bytes, offset, width)) return std::nullopt;
    // Widen into eight bytes on the side the value's low end is not, then read those.
    std::uint8_t wide[8] = {};
    std::memcpy(wide + (bigEndian ? 8 - width : 0), bytes.data() + offset, width);
    return readU64(ByteSpan(wide), 0, bigEndian);
}

std::optional<ByteSpan> subspan(ByteSpan bytes, std::uint64_t offset, std::uint64_t length) {
    if (!fits(bytes, offset, length)) return std::nullopt;
    return bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
}

bool SpanSource::read(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (!fits(bytes_, offset, out.size())) return false;
    if (!out.empty()) std::memcpy(out.data(), bytes_.data() + offset, out.size());
    return true;
}

FileBytes::FileBytes(int fd) : fd_(fd) {
    struct stat st{};
    if (::fstat(fd_, &st) == 0 && st.st_size > 0) size_ = static_cast<std::uint64_t>(st.st_size);
}

bool FileBytes::read(std::uint64_t offset, std::span<std::uint8_t> out) const {
    const std::size_t length = out.size();
    if (offset > size_ || size_ - offset < length) return false;
    const auto inBlock = [&] { return offset >= blockOffset_ && offset - blockOffset_ + length <= blockSize_; };
    if (!inBlock() && length <= kBlockSize) {
        // The block starts at the read, since headers are walked forwards.
        if (!block_) block_ = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockSize);
        blockOffset_ = offset;
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, size_ - offset));
        blockSize_ = readAt(fd_, block_.get(), want, offset);
        if (blockSize_ < want) changed_ = true;
    }
    if (inBlock()) {
        if (length != 0) std::memcpy(out.data(), block_.get() + (offset - blockOffset_), length);
        return true;
    }
    if (readAt(fd_, out.data(), length, offset) == length) return true;
    changed_ = true;
    return false;
}

bool FileBytes::read(std::uint64_t offset, std::size_t length, std::vector<std::uint8_t>& out) const {
    if (offset > size_ || size_ - offset < length) return false;
    out.resize(length);
    return read(offset, std::span<std::uint8_t>(out));
}

}  // namespace vesk::platform
