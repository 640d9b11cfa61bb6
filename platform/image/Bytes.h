// Bounds-checked reads of big- and little-endian integers from a byte span,
// and a file read piecewise at given offsets (never loaded whole).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vesk::platform::image {

using ByteSpan = std::span<const std::uint8_t>;

// Every reader answers nothing when the field does not fit: callers test the
// optional instead of pre-checking offsets.
std::optional<std::uint8_t> readU8(ByteSpan bytes, std::uint64_t offset);
std::optional<std::uint16_t> readU16(ByteSpan bytes, std::uint64_t offset, bool bigEndian);
std::optional<std::uint32_t> readU32(ByteSpan bytes, std::uint64_t offset, bool bigEndian);
std::optional<std::uint64_t> readU64(ByteSpan bytes, std::uint64_t offset, bool bigEndian);
// `length` bytes at `offset`, or nothing when they are not all there.
std::optional<ByteSpan> subspan(ByteSpan bytes, std::uint64_t offset, std::uint64_t length);

// A regular file open for reading; reads go through pread, so the kernel keeps
// the pages and the process holds only one block besides what a caller asks
// for. Headers are read a few bytes at a time, so small reads are served from
// that block: one system call instead of dozens.
class FileBytes {
public:
    explicit FileBytes(int fd);  // the descriptor stays owned by the caller
    std::uint64_t size() const { return size_; }
    // Exactly `length` bytes at `offset` into `out`, or false.
    bool read(std::uint64_t offset, std::size_t length, std::vector<std::uint8_t>& out) const;

    static constexpr std::size_t kBlockSize = 64 * 1024;

private:
    int fd_;
    std::uint64_t size_ = 0;
    mutable std::vector<std::uint8_t> block_;
    mutable std::uint64_t blockOffset_ = 0;
};

}  // namespace vesk::platform::image
