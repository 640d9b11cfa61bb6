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

namespace vesk::platform::macho {

// Where the reader takes its bytes from. Only the ranges it asks for are read,
// so a file source costs what the headers cost, whatever the file's size.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Fills all of `out` from `offset`; false when the range is not all there.
    virtual bool read(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;
};

class SpanSource final : public ByteSource {
public:
    explicit SpanSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    bool read(std::uint64_t offset, std::span<std::uint8_t> out) const override;

private:
    std::span<const std::uint8_t> bytes_;
};

// A regular file read by range with pread. Anything else (a folder, a FIFO, a
// device) is refused when opening, so the reader never blocks.
class FileSource final : public ByteSource {
public:
    // Nothing when the path is not an openable regular file; `error` says why.
    static std::optional<FileSource> open(const std::string& path, std::string* error = nullptr);
    ~FileSource();
    FileSource(FileSource&& other) noexcept;
    FileSource& operator=(FileSource&& other) noexcept;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, std::span<std::uint8_t> out) const override;
    // Bytes read so far, to show that only headers were read.
    std::uint64_t bytesRead() const { return bytesRead_; }

private:
    FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    int fd_ = -1;
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

// A value or an error message with context, like "truncated or malformed fat
// file (fat_arch[1].offset 0x5000: past the end of the file of 0x4000 bytes)".
class ParseResult {
public:
    static ParseResult success(Binary binary) { return ParseResult(std::move(binary), {}); }
    static ParseResult failure(std::string message) { return ParseResult(std::nullopt, std::move(message)); }

    bool ok() const { return binary_.has_value(); }
    explicit operator bool() const { return ok(); }
    const Binary& value() const { return *binary_; }
    const std::string& error() const { return error_; }

private:
    ParseResult(std::optional<Binary> binary, std::string error)
        : binary_(std::move(binary)), error_(std::move(error)) {}
    std::optional<Binary> binary_;
    std::string error_;
};

ParseResult parse(const ByteSource& source);
ParseResult parse(std::span<const std::uint8_t> bytes);
// Opens a regular file (following links) and parses its headers.
ParseResult parseFile(const std::string& path);

// The CPU type of every slice, in file order.
std::vector<std::int32_t> cpuTypes(const Binary& binary);

}  // namespace vesk::platform::macho
