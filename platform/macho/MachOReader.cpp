#include "platform/macho/MachOReader.h"

#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/macho/MachOConstants.h"

namespace vesk::platform::macho {
namespace {

std::string hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

// Every complaint goes through here so each names the file kind, the field
// and the value that was wrong.
ParseResult malformed(std::string_view fileKind, const std::string& field, std::uint64_t value,
                      std::string_view problem) {
    std::string message = "truncated or malformed ";
    message += fileKind;
    message += " (" + field + " " + hex(value) + ": ";
    message += problem;
    message += ")";
    return ParseResult::failure(std::move(message));
}

std::string archField(std::uint32_t index, const char* name) {
    return "fat_arch[" + std::to_string(index) + "]." + name;
}

constexpr bool kHostBigEndian = std::endian::native == std::endian::big;

std::uint32_t load32(const std::uint8_t* p, bool bigEndian) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return bigEndian == kHostBigEndian ? v : __builtin_bswap32(v);
}

std::uint64_t load64(const std::uint8_t* p, bool bigEndian) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return bigEndian == kHostBigEndian ? v : __builtin_bswap64(v);
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
    const std::uint32_t magicBE = load32(header.data(), true);
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
    slice.cputype = static_cast<std::int32_t>(load32(header.data() + 4, magic->bigEndian));
    slice.cpusubtype = static_cast<std::int32_t>(load32(header.data() + 8, magic->bigEndian));
    slice.offset = offset;
    slice.size = available;
    slice.is64Bit = magic->is64Bit;
    slice.bigEndian = magic->bigEndian;
    Binary binary;
    binary.kind = FileKind::Thin;
    binary.slices.push_back(slice);
    return ParseResult::success(std::move(binary));
}

ParseResult parseUniversal(const ByteSource& source, bool wide) {
    constexpr std::string_view kind = "fat file";
    const std::uint64_t fileSize = source.size();
    std::array<std::uint8_t, kFatHeaderSize> header{};
    if (fileSize < kFatHeaderSize || !source.read(0, header))
        return malformed(kind, "file size", fileSize, "shorter than a fat_header");

    const std::uint32_t count = load32(header.data() + 4, true);
    if (count == 0) return malformed(kind, "nfat_arch", count, "no architectures");
    if (count > kMaxFatArchCount)
        return malformed(kind, "nfat_arch", count,
                         "more architectures than a universal file holds; a Java class file shares its magic");
    const std::uint64_t entrySize = wide ? kFatArch64Size : kFatArchSize;
    // Divide rather than multiply, so no count can wrap the comparison.
    if (count > (fileSize - kFatHeaderSize) / entrySize)
        return malformed(kind, "nfat_arch", count, "the fat_arch table runs past the end of the file of " +
                                                       hex(fileSize) + " bytes");
    const std::uint64_t tableEnd = kFatHeaderSize + count * entrySize;

    std::vector<std::uint8_t> table(static_cast<std::size_t>(count * entrySize));
    if (!source.read(kFatHeaderSize, table)) return malformed(kind, "nfat_arch", count, "the fat_arch table cannot be read");

    Binary binary;
    binary.kind = wide ? FileKind::Universal64 : FileKind::Universal;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* e = table.data() + i * entrySize;
        const auto cputype = static_cast<std::int32_t>(load32(e, true));
        const auto cpusubtype = static_cast<std::int32_t>(load32(e + 4, true));
        const std::uint64_t offset = wide ? load64(e + 8, true) : load32(e + 8, true);
        const std::uint64_t size = wide ? load64(e + 16, true) : load32(e + 12, true);
        const std::uint32_t align = wide ? load32(e + 24, true) : load32(e + 16, true);

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

bool SpanSource::read(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return false;
    if (!out.empty()) std::memcpy(out.data(), bytes_.data() + offset, out.size());
    return true;
}

std::optional<FileSource> FileSource::open(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<FileSource> {
        if (error) *error = "\"" + path + "\": " + why;
        return std::nullopt;
    };
    // Non-blocking, so a FIFO under the name cannot stall the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return fail(std::strerror(errno));
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail("not a regular file");
    }
    return FileSource(fd, static_cast<std::uint64_t>(st.st_size));
}

FileSource::~FileSource() {
    if (fd_ >= 0) ::close(fd_);
}

FileSource::FileSource(FileSource&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_), bytesRead_(other.bytesRead_) {}

FileSource& FileSource::operator=(FileSource&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
        bytesRead_ = other.bytesRead_;
    }
    return *this;
}

bool FileSource::read(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (offset > size_ || out.size() > size_ - offset) return false;
    const std::size_t got = readAt(fd_, out.data(), out.size(), offset);
    bytesRead_ += got;
    // Short when the file has shrunk since it was opened.
    return got == out.size();
}

ParseResult parse(const ByteSource& source) {
    std::array<std::uint8_t, 4> magicBytes{};
    if (source.size() < magicBytes.size() || !source.read(0, magicBytes))
        return malformed("object", "file size", source.size(), "too small to hold a magic");
    const std::uint32_t magic = load32(magicBytes.data(), true);
    if (magic == FAT_MAGIC) return parseUniversal(source, false);
    if (magic == FAT_MAGIC_64) return parseUniversal(source, true);
    if (!thinMagic(magic)) return ParseResult::failure("not a Mach-O or universal file (magic " + hex(magic) + ")");
    return readThinHeader(source, 0, source.size(), "object", "file ");
}

ParseResult parse(std::span<const std::uint8_t> bytes) { return parse(SpanSource(bytes)); }

ParseResult parseFile(const std::string& path) {
    std::string error;
    auto source = FileSource::open(path, &error);
    if (!source) return ParseResult::failure(error);
    return parse(*source);
}

std::vector<std::int32_t> cpuTypes(const Binary& binary) {
    std::vector<std::int32_t> types;
    types.reserve(binary.slices.size());
    for (const Slice& slice : binary.slices) types.push_back(slice.cputype);
    return types;
}

}  // namespace vesk::platform::macho
