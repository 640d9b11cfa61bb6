#include "platform/image/Bytes.h"

#include "platform/FileSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vesk::platform::image {
namespace {

std::optional<std::uint64_t> readUnsigned(ByteSpan bytes, std::uint64_t offset, unsigned width, bool bigEndian) {
    if (offset > bytes.size() || bytes.size() - offset < width) return std::nullopt;
    std::uint64_t v = 0;
    for (unsigned i = 0; i < width; ++i) {
        const std::uint64_t b = bytes[offset + (bigEndian ? i : width - 1 - i)];
        v = (v << 8) | b;
    }
    return v;
}

}  // namespace

std::optional<std::uint8_t> readU8(ByteSpan bytes, std::uint64_t offset) {
    if (offset >= bytes.size()) return std::nullopt;
    return bytes[offset];
}

std::optional<std::uint16_t> readU16(ByteSpan bytes, std::uint64_t offset, bool bigEndian) {
    auto v = readUnsigned(bytes, offset, 2, bigEndian);
    if (!v) return std::nullopt;
    return static_cast<std::uint16_t>(*v);
}

std::optional<std::uint32_t> readU32(ByteSpan bytes, std::uint64_t offset, bool bigEndian) {
    auto v = readUnsigned(bytes, offset, 4, bigEndian);
    if (!v) return std::nullopt;
    return static_cast<std::uint32_t>(*v);
}

std::optional<std::uint64_t> readU64(ByteSpan bytes, std::uint64_t offset, bool bigEndian) {
    return readUnsigned(bytes, offset, 8, bigEndian);
}

std::optional<ByteSpan> subspan(ByteSpan bytes, std::uint64_t offset, std::uint64_t length) {
    if (offset > bytes.size() || bytes.size() - offset < length) return std::nullopt;
    return bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
}

FileBytes::FileBytes(int fd) : fd_(fd) {
    struct stat st{};
    if (::fstat(fd_, &st) == 0 && st.st_size > 0) size_ = static_cast<std::uint64_t>(st.st_size);
}

bool FileBytes::read(std::uint64_t offset, std::size_t length, std::vector<std::uint8_t>& out) const {
    if (offset > size_ || size_ - offset < length) return false;
    const auto inBlock = [&] { return offset >= blockOffset_ && offset - blockOffset_ + length <= block_.size(); };
    if (!inBlock() && length <= kBlockSize) {
        // The block starts at the read, since headers are walked forwards.
        block_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, size_ - offset)));
        blockOffset_ = offset;
        const std::size_t got = readAt(fd_, block_.data(), block_.size(), offset);
        block_.resize(got);
    }
    if (inBlock()) {
        const auto start = block_.begin() + static_cast<std::ptrdiff_t>(offset - blockOffset_);
        out.assign(start, start + static_cast<std::ptrdiff_t>(length));
        return true;
    }
    out.resize(length);
    return readAt(fd_, out.data(), length, offset) == length;
}

}  // namespace vesk::platform::image
