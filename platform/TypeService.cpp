#include "platform/TypeService.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/FileSystem.h"

namespace vesk::platform {
namespace {

// The hierarchy, child first. Two parents are enough for every kind here.
struct TypeNode {
    std::string_view type;
    std::array<std::string_view, 2> parents;
};

constexpr TypeNode kHierarchy[] = {
    {"public.item", {}},
    {"public.content", {}},
    {"public.data", {"public.item"}},
    {"public.directory", {"public.item"}},
    {"public.folder", {"public.directory"}},
    {"com.apple.package", {"public.directory"}},
    {"com.apple.bundle", {"com.apple.package"}},
    {"com.apple.application-bundle", {"com.apple.bundle"}},
    {"com.apple.framework", {"com.apple.bundle"}},
    {"com.apple.plugin", {"com.apple.bundle"}},
    {"public.image", {"public.data", "public.content"}},
    {"public.jpeg", {"public.image"}},
    {"public.jpeg-2000", {"public.image"}},
    {"public.tiff", {"public.image"}},
    {"public.png", {"public.image"}},
    {"com.compuserve.gif", {"public.image"}},
    {"public.heic", {"public.image"}},
    {"public.text", {"public.data", "public.content"}},
    {"public.plain-text", {"public.text"}},
    {"com.adobe.pdf", {"public.data", "public.content"}},
    {"com.apple.property-list", {"public.data"}},
    {"public.executable", {"public.item"}},
    {"public.unix-executable", {"public.executable", "public.data"}},
    {"com.apple.mach-o-dylib", {"public.executable", "public.data"}},
    {"com.apple.mach-o-bundle", {"public.executable", "public.data"}},
};

struct ExtensionEntry {
    std::string_view extension;  // lower case
    std::string_view type;
    bool directory;  // the name says a folder kind, not a file kind
};

constexpr ExtensionEntry kExtensions[] = {
    {"jpg", "public.jpeg", false},       {"jpeg", "public.jpeg", false},
    {"jpe", "public.jpeg", false},       {"jp2", "public.jpeg-2000", false},
    {"jpf", "public.jpeg-2000", false},  {"jpx", "public.jpeg-2000", false},
    {"j2k", "public.jpeg-2000", false},  {"j2c", "public.jpeg-2000", false},
    {"tif", "public.tiff", false},       {"tiff", "public.tiff", false},
    {"png", "public.png", false},        {"gif", "com.compuserve.gif", false},
    {"heic", "public.heic", false},      {"pdf", "com.adobe.pdf", false},
    {"txt", "public.plain-text", false}, {"text", "public.plain-text", false},
    {"plist", "com.apple.property-list", false},
    {"dylib", "com.apple.mach-o-dylib", false},
    {"bundle", "com.apple.bundle", true},
    {"app", "com.apple.application-bundle", true},
    {"framework", "com.apple.framework", true},
    {"plugin", "com.apple.plugin", true},
};

std::optional<std::string> typeFromExtension(const std::string& path, bool directory) {
    std::string ext = pathExtension(path);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const auto& e : kExtensions)
        if (e.directory == directory && e.extension == ext) return std::string(e.type);
    return std::nullopt;
}

// Mach-O constants (<mach-o/loader.h>, <mach-o/fat.h>).
constexpr std::uint32_t MH_MAGIC = 0xfeedface;
constexpr std::uint32_t MH_CIGAM = 0xcefaedfe;
constexpr std::uint32_t MH_MAGIC_64 = 0xfeedfacf;
constexpr std::uint32_t MH_CIGAM_64 = 0xcffaedfe;
constexpr std::uint32_t FAT_MAGIC = 0xcafebabe;
constexpr std::uint32_t FAT_MAGIC_64 = 0xcafebabf;
constexpr std::uint32_t MH_EXECUTE = 0x2;
constexpr std::uint32_t MH_DYLIB = 0x6;
constexpr std::uint32_t MH_BUNDLE = 0x8;
constexpr std::size_t kFatHeaderSize = 8;
constexpr std::size_t kFatArchSize = 20;
constexpr std::size_t kFatArch64Size = 32;
// Java class files share the fat magic; their version field reads as 45 or more.
constexpr std::uint32_t kMaxFatArchs = 40;

std::uint32_t readBE32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
std::uint64_t readBE64(const unsigned char* p) {
    return (std::uint64_t{readBE32(p)} << 32) | readBE32(p + 4);
}
std::uint32_t readLE32(const unsigned char* p) {
    return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
}

// The file type of a thin Mach-O header, read in the header's own byte order.
std::optional<std::uint32_t> thinFileType(const unsigned char* p, std::size_t size) {
    if (size < 16) return std::nullopt;
    const std::uint32_t magic = readLE32(p);
    if (magic == MH_MAGIC || magic == MH_MAGIC_64) return readLE32(p + 12);
    if (magic == MH_CIGAM || magic == MH_CIGAM_64) return readBE32(p + 12);
    return std::nullopt;
}

std::string machOType(std::uint32_t fileType) {
    switch (fileType) {
    case MH_DYLIB: return "com.apple.mach-o-dylib";
    case MH_BUNDLE: return "com.apple.mach-o-bundle";
    case MH_EXECUTE: return "public.unix-executable";
    default: return "public.executable";
    }
}

// A fat file is what its first well-formed slice is; the linker makes all slices one kind.
std::optional<std::string> fatType(int fd, const unsigned char* head, std::size_t size, std::uint64_t fileSize) {
    const bool is64 = readBE32(head) == FAT_MAGIC_64;
    const std::uint32_t count = readBE32(head + 4);
    const std::size_t entrySize = is64 ? kFatArch64Size : kFatArchSize;
    if (count == 0 || count > kMaxFatArchs) return std::nullopt;
    if (count > (size - kFatHeaderSize) / entrySize) return std::nullopt;
    for (std::uint32_t i = 0; i < count; ++i) {
        const unsigned char* arch = head + kFatHeaderSize + i * entrySize;
        const std::uint64_t offset = is64 ? readBE64(arch + 8) : readBE32(arch + 8);
        if (offset >= fileSize || fileSize - offset < 16) continue;
        unsigned char slice[16];
        const auto type = thinFileType(slice, readAt(fd, slice, sizeof slice, offset));
        if (type) return machOType(*type);
    }
    return std::nullopt;
}

bool startsWith(const unsigned char* p, std::size_t size, std::string_view sig) {
    return size >= sig.size() && std::memcmp(p, sig.data(), sig.size()) == 0;
}

}  // namespace

std::vector<std::string_view> typeParents(std::string_view type) {
    for (const auto& node : kHierarchy) {
        if (node.type != type) continue;
        std::vector<std::string_view> out;
        for (auto p : node.parents)
            if (!p.empty()) out.push_back(p);
        return out;
    }
    return {};
}

std::optional<std::string> typeFromContent(int fd) {
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    unsigned char head[4096];
    const std::size_t size = readAt(fd, head, sizeof head, 0);
    using namespace std::string_view_literals;
    if (startsWith(head, size, "\xFF\xD8\xFF"sv)) return "public.jpeg";
    if (startsWith(head, size, "II*\0"sv) || startsWith(head, size, "MM\0*"sv) ||
        startsWith(head, size, "II+\0"sv) || startsWith(head, size, "MM\0+"sv))
        return "public.tiff";
    // The JP2 signature box, or a bare codestream (SOC then SIZ).
    if (startsWith(head, size, "\0\0\0\x0CjP  \r\n\x87\n"sv) || startsWith(head, size, "\xFF\x4F\xFF\x51"sv))
        return "public.jpeg-2000";
    if (startsWith(head, size, "\x89PNG\r\n\x1A\n"sv)) return "public.png";
    if (startsWith(head, size, "GIF87a"sv) || startsWith(head, size, "GIF89a"sv)) return "com.compuserve.gif";
    if (startsWith(head, size, "%PDF-"sv)) return "com.adobe.pdf";
    if (const auto type = thinFileType(head, size)) return machOType(*type);
    if (size >= kFatHeaderSize && (readBE32(head) == FAT_MAGIC || readBE32(head) == FAT_MAGIC_64))
        return fatType(fd, head, size, static_cast<std::uint64_t>(st.st_size));
    return std::nullopt;
}

std::optional<std::string> FileTypeService::typeOfFile(const std::string& path) const {
    // A NUL inside the text would silently name another file.
    if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;  // also a dangling link
    // A link is its target's kind, by the target's own name.
    std::string name = path;
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
        name = resolved;
        std::free(resolved);
    }
    if (S_ISDIR(st.st_mode)) {
        const int dir = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0) return std::nullopt;
        ::close(dir);
        if (auto type = typeFromExtension(name, true)) return type;
        return "public.folder";
    }
    // Pipes, sockets and devices are never opened: reading them could block.
    if (!S_ISREG(st.st_mode)) return "public.item";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> type = typeFromExtension(name, false);
    if (!type) {
        type = typeFromContent(fd);
        if (!type) {
            // Swapped for something else between the two looks: say no more than "an item".
            struct stat now{};
            type = ::fstat(fd, &now) == 0 && S_ISREG(now.st_mode) ? "public.data" : "public.item";
        }
    }
    ::close(fd);
    return type;
}

bool FileTypeService::conformsTo(const std::string& type, const std::string& parent) const {
    // Breadth-first over the table; the bound keeps a faulty table from looping.
    std::vector<std::string_view> frontier{type};
    for (std::size_t depth = 0; depth <= std::size(kHierarchy) && !frontier.empty(); ++depth) {
        std::vector<std::string_view> next;
        for (auto t : frontier) {
            if (t == parent) return true;
            for (auto p : typeParents(t)) next.push_back(p);
        }
        frontier = std::move(next);
    }
    return false;
}

}  // namespace vesk::platform
