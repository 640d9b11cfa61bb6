// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/macho/MachOReader.h"

#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/macho/MachOConstants.h"

namespace vesk::platform::macho {
namespace {

using ParseResult = Result<Binary>;

std::string hex(std::uint64_t value) { return hexText(value); }

ParseResult malformed(std::string_view fileKind, const std::string& field, std::uint64_t value,
                      std::string_view problem) {
    return ParseResult::failure(malformedMessage(fileKind, field, value, problem));
}

std::string archField(std::uint32_t index, const char* name) {
    return "fat_arch[" + std::to_string(index) + "]." + name;
}

// For fields whose bytes were read and counted already: they are all there.
std::uint32_t field32(ByteSpan bytes, std::uint64_t offset, bool bigEndian) {
    return readU32(bytes, offset, bigEndian).value_or(0);
}

std::uint64_t field64(ByteSpan bytes, std::uint64_t offset, bool bigEndian) {
    return readU64(bytes, offset, bigEndian).value_or(0);
}

struct ThinMagic {
    bool is64Bit;
    bool bigEndian;
};

// The magic read as big-endian bytes tells both the width and the byte order.
std::optional<ThinMagic> thinMagic(std::uint32_t magicBE) {
    switch (magicBE) {
    case MH_MAGIC: return ThinMagic{false, true};
    case MH_CIGAM: return ThinMagic{false, false};
    case MH_MAGIC_64: return ThinMagic{true, true};
    case MH_CIGAM_64: return ThinMagic{true, false};
    default: return std::nullopt;
    }
}

// Reads and checks the Mach-O header at `offset` that has `available` bytes
// to live in. `where` names the slice in messages.
ParseResult readThinHeader(const ByteSource& source, std::uint64_t offset, std::uint64_t available,
                           std::string_view fileKind, const std::string& where) {
    std::array<std::uint8_t, kMachHeader64Size> header{};
    if (available < 4 || !source.read(offset, std::span(header).first(4)))
        return malformed(fileKind, where + "size", available, "too small to hold a Mach-O magic");
    const std::uint32_t magicBE = field32(header, 0, true);
    const auto magic = thinMagic(magicBE);
    if (!magic) {
        if (magicBE == FAT_MAGIC || magicBE == FAT_MAGIC_64)
            return malformed(fileKind, where + "magic", magicBE, "a universal file inside a universal file");
        return malformed(fileKind, where + "magic", magicBE, "not a Mach-O magic");
    }
    const std::size_t headerSize = magic->is64Bit ? kMachHeader64Size : kMachHeaderSize;
    if (available < headerSize || !source.read(offset, std::span(header).first(headerSize)))
        return malformed(fileKind, where + "size", available,
                         magic->is64Bit ? "shorter than a mach_header_64" : "shorter than a mach_header");

    Slice slice;
    slice.cputype = static_cast<std::int32_t>(field32(header, 4, magic->bigEndian));
    slice.cpusubtype = static_cast<std::int32_t>(field32(header, 8, magic->bigEndian));
    slice.offset = offset;
    slice.size = available;
    slice.is64Bit = magic->is64Bit;
    slice.bigEndian = magic->bigEndian;
    Binary binary;
    binary.kind = FileKind::Thin;
    binary.slices.push_back(slice);
    return ParseResult::success(std::move(binary));
}

constexpr std::string_view kFatFile = "fat file";

// One fat_arch or fat_arch_64 entry, widened.
struct FatArch {
    std::int32_t cputype = 0;
    std::int32_t cpusubtype = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint32_t align = 0;
};

// The fat header and its architecture table, checked to be sane and to fit in
// the file; the entries themselves are not judged here.
struct FatTable {
    bool wide = false;
    std::vector<FatArch> entries;
    std::uint64_t end = 0;  // where the table ends, so where slices may start
};

Result<FatTable> readFatTable(const ByteSource& source, bool wide) {
    constexpr std::string_view kind = kFatFile;
    const std::uint64_t fileSize = source.size();
    std::array<std::uint8_t, kFatHeaderSize> header{};
    if (fileSize < kFatHeaderSize || !source.read(0, header))
        return Result<FatTable>::failure(malformedMessage(kind, "file size", fileSize, "shorter than a fat_header"));

    const std::uint32_t count = field32(header, 4, true);
    if (count == 0) return Result<FatTable>::failure(malformedMessage(kind, "nfat_arch", count, "no architectures"));
    if (count > kMaxFatArchCount)
        return Result<FatTable>::failure(malformedMessage(
            kind, "nfat_arch", count,
            "more architectures than a universal file holds; a Java class file shares its magic"));
    const std::uint64_t entrySize = wide ? kFatArch64Size : kFatArchSize;
    // Divide rather than multiply, so no count can wrap the comparison.
    if (count > (fileSize - kFatHeaderSize) / entrySize)
        return Result<FatTable>::failure(malformedMessage(
            kind, "nfat_arch", count, "the fat_arch table runs past the end of the file of " + hex(fileSize) + " bytes"));

    std::vector<std::uint8_t> table(static_cast<std::size_t>(count * entrySize));
    if (!source.read(kFatHeaderSize, table))
        return Result<FatTable>::failure(
            malformedMessage(kind, "nfat_arch", count, "the fat_arch table cannot be read"));

    FatTable fat;
    fat.wide = wide;
    fat.end = kFatHeaderSize + count * entrySize;
    for (std::uint32_t i = 0; i < count; ++i) {
        const ByteSpan e = ByteSpan(table).subspan(i * entrySize, entrySize);
        FatArch arch;
        arch.cputype = static_cast<std::int32_t>(field32(e, 0, true));
        arch.cpusubtype = static_cast<std::int32_t>(field32(e, 4, true));
        arch.offset = wide ? field64(e, 8, true) : field32(e, 8, true);
        arch.size = wide ? field64(e, 16, true) : field32(e, 12, true);
        arch.align = wide ? field32(e, 24, true) : field32(e, 16, true);
        fat.entries.push_back(arch);
    }
    return Result<FatTable>::success(std::move(fat));
}

ParseResult parseUniversal(const ByteSource& source, bool wide) {
    constexpr std::string_view kind = kFatFile;
    const std::uint64_t fileSize = source.size();
    auto fat = readFatTable(source, wide);
    if (!fat) return ParseResult::failure(fat.error());
    const std::uint64_t tableEnd = fat->end;

    Binary binary;
    binary.kind = wide ? FileKind::Universal64 : FileKind::Universal;
    const auto count = static_cast<std::uint32_t>(fat->entries.size());
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto [cputype, cpusubtype, offset, size, align] = fat->entries[i];

        if (offset < tableEnd)
            return malformed(kind, archField(i, "offset"), offset, "inside the fat header or its table");
        if (offset > fileSize)
            return malformed(kind, archField(i, "offset"), offset,
                             "past the end of the file of " + hex(fileSize) + " bytes");
        if (size > fileSize - offset)
            return malformed(kind, archField(i, "size"), size,
                             "the slice at " + hex(offset) + " runs past the end of the file of " +
                                 hex(fileSize) + " bytes");
        if (align > kMaxSectionAlign)
            return malformed(kind, archField(i, "align"), align, "more than 2^15");
        if (offset % (std::uint64_t{1} << align) != 0)
            return malformed(kind, archField(i, "offset"), offset,
                             "not aligned to 2^" + std::to_string(align));
        for (std::uint32_t j = 0; j < i; ++j) {
            const Slice& other = binary.slices[j];
            if (offset < other.offset + other.size && other.offset < offset + size)
                return malformed(kind, archField(i, "offset"), offset,
                                 "overlaps fat_arch[" + std::to_string(j) + "]");
        }

        auto thin = readThinHeader(source, offset, size, kind, "fat_arch[" + std::to_string(i) + "] slice ");
        if (!thin) return thin;
        Slice slice = thin.value().slices.front();
        // The table's word is what identifies the slice to loaders and tools.
        slice.cputype = cputype;
        slice.cpusubtype = cpusubtype;
        binary.slices.push_back(slice);
    }
    return ParseResult::success(std::move(binary));
}

}  // namespace

Result<FileSource> FileSource::open(const std::string& path) {
    auto fail = [&](const std::string& why) { return Result<FileSource>::failure("\"" + path + "\": " + why); };
    // Non-blocking, so a FIFO under the name cannot stall the open.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return fail(std::strerror(errno));
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return fail("not a regular file");
    const auto size = static_cast<std::uint64_t>(st.st_size);
    return Result<FileSource>::success(FileSource(std::move(fd), size));
}

bool FileSource::read(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (offset > size_ || out.size() > size_ - offset) return false;
    const std::size_t got = readAt(fd_.get(), out.data(), out.size(), offset);
    bytesRead_ += got;
    // Short when the file has shrunk since it was opened.
    return got == out.size();
}

ParseResult parse(const ByteSource& source) {
    std::array<std::uint8_t, 4> magicBytes{};
    if (source.size() < magicBytes.size() || !source.read(0, magicBytes))
        return malformed("object", "file size", source.size(), "too small to hold a magic");
    const std::uint32_t magic = field32(magicBytes, 0, true);
    if (magic == FAT_MAGIC) return parseUniversal(source, false);
    if (magic == FAT_MAGIC_64) return parseUniversal(source, true);
    if (!thinMagic(magic)) return ParseResult::failure("not a Mach-O or universal file (magic " + hex(magic) + ")");
    return readThinHeader(source, 0, source.size(), "object", "file ");
}

ParseResult parse(ByteSpan bytes) { return parse(SpanSource(bytes)); }

ParseResult parseFile(const std::string& path) {
    auto source = FileSource::open(path);
    if (!source) return ParseResult::failure(source.error());
    return parse(*source);
}

std::optional<Identity> identify(const ByteSource& source) {
    // magic, cputype, cpusubtype, filetype: enough to say what a header is.
    constexpr std::size_t kPrefixSize = 16;
    const auto thinFileType = [&](std::uint64_t offset) -> std::optional<std::uint32_t> {
        std::array<std::uint8_t, kPrefixSize> prefix{};
        if (!source.read(offset, prefix)) return std::nullopt;
        const auto magic = thinMagic(field32(prefix, 0, true));
        if (!magic) return std::nullopt;
        return field32(prefix, 12, magic->bigEndian);
    };
    if (const auto filetype = thinFileType(0)) return Identity{false, *filetype};

    std::array<std::uint8_t, 4> magicBytes{};
    if (!source.read(0, magicBytes)) return std::nullopt;
    const std::uint32_t magic = field32(magicBytes, 0, true);
    if (magic != FAT_MAGIC && magic != FAT_MAGIC_64) return std::nullopt;
    const auto fat = readFatTable(source, magic == FAT_MAGIC_64);
    if (!fat) return std::nullopt;
    // One entry pointing nowhere does not hide the slices after it.
    for (const FatArch& arch : fat->entries)
        if (const auto filetype = thinFileType(arch.offset)) return Identity{true, *filetype};
    return std::nullopt;
}

std::vector<std::int32_t> cpuTypes(const Binary& binary) {
    std::vector<std::int32_t> types;
    types.reserve(binary.slices.size());
    for (const Slice& slice : binary.slices) types.push_back(slice.cputype);
    return types;
}

}  // namespace vesk::platform::macho
