// SPDX-License-Identifier: GPL-3.0-or-later
// The readers' byte toolkit: bounds-checked reads of big- and little-endian
// integers from a byte span, and the sources the readers take bytes from
// (a span in memory, or a file read piecewise at given offsets, never whole).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vesk::platform {

using ByteSpan = std::span<const std::uint8_t>;

// Every reader answers nothing when the field does not fit: callers test the
// optional instead of pre-checking offsets. Offsets are 64-bit so that no
// offset from a file wraps before it is compared with the size.
std::optional<std::uint8_t> readU8(ByteSpan bytes, std::uint64_t offset);
std::optional<std::uint16_t> readU16(ByteSpan bytes, std::uint64_t offset, bool bigEndian);
std::optional<std::uint32_t> readU32(ByteSpan bytes, std::uint64_t offset, bool bigEndian);
std::optional<std::uint64_t> readU64(ByteSpan bytes, std::uint64_t offset, bool bigEndian);
// An unsigned integer `width` bytes wide (1 to 8), for formats that choose
// their field width at run time; nothing for any other width.
std::optional<std::uint64_t> readUnsigned(ByteSpan bytes, std::uint64_t offset, std::size_t width, bool bigEndian);
// Writes into a copy being edited; the caller has checked that the field fits.
void writeU16(std::span<std::uint8_t> bytes, std::uint64_t offset, std::uint16_t value, bool bigEndian);
void writeU32(std::span<std::uint8_t> bytes, std::uint64_t offset, std::uint32_t value, bool bigEndian);
// `length` bytes at `offset`, or nothing when they are not all there.
std::optional<ByteSpan> subspan(ByteSpan bytes, std::uint64_t offset, std::uint64_t length);

// Where a reader takes its bytes from. Only the ranges it asks for are read,
// so a file source costs what the headers cost, whatever the file's size.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Fills all of `out` from `offset`; false when the range is not all there.
    virtual bool read(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;
};

// How a report says that its file got shorter (or could no longer be read)
// while it was read: what was read before is shown.
inline constexpr const char* kFileChangedNote = "the file changed while it was read";

class SpanSource final : public ByteSource {
public:
    explicit SpanSource(ByteSpan bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    bool read(std::uint64_t offset, std::span<std::uint8_t> out) const override;

private:
    ByteSpan bytes_;
};

// A regular file open for reading; reads go through pread, so the kernel keeps
// the pages and the process holds only one block besides what a caller asks
// for. Headers are read a few bytes at a time, so small reads are served from
// that block: one system call instead of dozens.
class FileBytes final : public ByteSource {
public:
    explicit FileBytes(int fd);  // the descriptor stays owned by the caller
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, std::span<std::uint8_t> out) const override;
    // Exactly `length` bytes at `offset` into `out`, or false.
    bool read(std::uint64_t offset, std::size_t length, std::vector<std::uint8_t>& out) const;
    // True once a read inside the size found at the start came back short.
    bool changed() const { return changed_; }

    static constexpr std::size_t kBlockSize = 64 * 1024;

private:
    int fd_;
    std::uint64_t size_ = 0;
    // Left uninitialised until read into: zeroing 64 KB for every file opened
    // cost more than the header walk that fills it.
    mutable std::unique_ptr<std::uint8_t[]> block_;
    mutable std::size_t blockSize_ = 0;
    mutable std::uint64_t blockOffset_ = 0;
    mutable bool changed_ = false;
};

}  // namespace vesk::platform
