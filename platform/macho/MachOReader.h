// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the architecture table of a Mach-O file: a thin 32- or 64-bit Mach-O
// in either byte order, or a universal file with a 32- or 64-bit fat header.
// Everything is validated before anything is yielded; a malformed file gives an
// error naming the field and its value, never a partial or invented list.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Bytes.h"
#include "platform/FileDescriptor.h"
#include "platform/Result.h"

namespace vesk::platform::macho {

// A regular file read by range with pread. Anything else (a folder, a FIFO, a
// device) is refused when opening, so the reader never blocks.
class FileSource final : public ByteSource {
public:
    // The open file, or why the path cannot be read as a regular file.
    static Result<FileSource> open(const std::string& path);

    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, std::span<std::uint8_t> out) const override;
    // Bytes read so far, to show that only headers were read.
    std::uint64_t bytesRead() const { return bytesRead_; }

private:
    FileSource(FileDescriptor fd, std::uint64_t size) : fd_(std::move(fd)), size_(size) {}
    FileDescriptor fd_;
    std::uint64_t size_ = 0;
    mutable std::uint64_t bytesRead_ = 0;
};

struct Slice {
    std::int32_t cputype = 0;     // as the fat_arch entry, or the thin header, states it
    std::int32_t cpusubtype = 0;
    std::uint64_t offset = 0;     // of the slice's own Mach-O header within the file
    std::uint64_t size = 0;
    bool is64Bit = false;         // of the slice's own header
    bool bigEndian = false;
};

enum class FileKind { Thin, Universal, Universal64 };

struct Binary {
    FileKind kind = FileKind::Thin;
    std::vector<Slice> slices;  // in file order: the architecture table's order
};

// A value, or an error naming the field and its value, like "truncated or
// malformed fat file (fat_arch[1].offset 0x5000: past the end of the file of
// 0x4000 bytes)".
Result<Binary> parse(const ByteSource& source);
Result<Binary> parse(ByteSpan bytes);
// Opens a regular file (following links) and parses its headers.
Result<Binary> parseFile(const std::string& path);

// What a file is as far as its first bytes tell, for naming its type; the
// full checks of parse() are not made. A thin header needs its magic and file
// type only; a universal file must pass the fat header's checks and is the
// file type of its first slice whose thin header can be read, since the linker
// makes every slice one kind.
struct Identity {
    bool universal = false;
    std::uint32_t filetype = 0;  // MH_DYLIB, MH_EXECUTE, ... in the header's own order
};
// Nothing when the bytes are not a Mach-O or universal file.
std::optional<Identity> identify(const ByteSource& source);

// The CPU type of every slice, in file order.
std::vector<std::int32_t> cpuTypes(const Binary& binary);

}  // namespace vesk::platform::macho
