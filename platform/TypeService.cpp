// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/TypeService.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/Bytes.h"
#include "platform/FileDescriptor.h"
#include "platform/FileSystem.h"
#include "platform/image/ImageKind.h"
#include "platform/macho/MachOConstants.h"
#include "platform/macho/MachOReader.h"

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
    {"public.heif", {"public.image"}},
    {"public.heic", {"public.heif"}},
    {"public.avif", {"public.image"}},
    {"public.jpeg-xl", {"public.image"}},
    {"public.camera-raw-image", {"public.image"}},
    {"com.canon.cr3-raw-image", {"public.camera-raw-image"}},
    {"com.adobe.raw-image", {"public.camera-raw-image"}},
    {"org.webmproject.webp", {"public.image"}},
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
    {"jpe", "public.jpeg", false},       {"jfif", "public.jpeg", false},
    {"jp2", "public.jpeg-2000", false},
    {"jpf", "public.jpeg-2000", false},  {"jpx", "public.jpeg-2000", false},
    {"j2k", "public.jpeg-2000", false},  {"j2c", "public.jpeg-2000", false},
    {"tif", "public.tiff", false},       {"tiff", "public.tiff", false},
    {"png", "public.png", false},        {"gif", "com.compuserve.gif", false},
    {"heic", "public.heic", false},      {"pdf", "com.adobe.pdf", false},
    {"heif", "public.heif", false},      {"hif", "public.heif", false},
    {"avif", "public.avif", false},      {"jxl", "public.jpeg-xl", false},
    {"cr3", "com.canon.cr3-raw-image", false},
    {"webp", "org.webmproject.webp", false}, {"dng", "com.adobe.raw-image", false},
    // The raws Exiv2 reads, by their makers' extensions.
    {"cr2", "public.camera-raw-image", false}, {"crw", "public.camera-raw-image", false},
    {"nef", "public.camera-raw-image", false}, {"nrw", "public.camera-raw-image", false},
    {"arw", "public.camera-raw-image", false}, {"sr2", "public.camera-raw-image", false},
    {"srf", "public.camera-raw-image", false}, {"orf", "public.camera-raw-image", false},
    {"rw2", "public.camera-raw-image", false}, {"pef", "public.camera-raw-image", false},
    {"raf", "public.camera-raw-image", false}, {"srw", "public.camera-raw-image", false},
    {"mrw", "public.camera-raw-image", false},
    {"txt", "public.plain-text", false}, {"text", "public.plain-text", false},
    {"plist", "com.apple.property-list", false},
    {"dylib", "com.apple.mach-o-dylib", false},
    {"bundle", "com.apple.bundle", true},
    {"app", "com.apple.application-bundle", true},
    {"framework", "com.apple.framework", true},
    {"plugin", "com.apple.plugin", true},
};

std::optional<std::string> typeFromExtensionText(std::string_view extension, bool directory) {
    std::string ext(extension);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const auto& e : kExtensions)
        if (e.directory == directory && e.extension == ext) return std::string(e.type);
    return std::nullopt;
}

std::optional<std::string> typeFromExtension(const std::string& path, bool directory) {
    return typeFromExtensionText(pathExtension(path), directory);
}

std::string machOType(const macho::Identity& identity) {
    switch (identity.filetype) {
    case macho::MH_DYLIB: return "com.apple.mach-o-dylib";
    case macho::MH_BUNDLE: return "com.apple.mach-o-bundle";
    case macho::MH_EXECUTE: return "public.unix-executable";
    default: return "public.executable";
    }
}

std::optional<std::string> imageType(ByteSpan head) {
    const auto kind = image::sniffImageKind(head);
    if (!kind) return std::nullopt;
    switch (*kind) {
    case image::ImageKind::Jpeg: return "public.jpeg";
    case image::ImageKind::Tiff:
    case image::ImageKind::BigTiff: return "public.tiff";
    case image::ImageKind::Jpeg2000: return "public.jpeg-2000";
    case image::ImageKind::Heic: return "public.heic";
    case image::ImageKind::Heif: return "public.heif";
    case image::ImageKind::Avif: return "public.avif";
    case image::ImageKind::Cr3: return "com.canon.cr3-raw-image";
    case image::ImageKind::JpegXl: return "public.jpeg-xl";
    }
    return std::nullopt;
}

bool startsWith(ByteSpan head, std::string_view sig) {
    return head.size() >= sig.size() && std::memcmp(head.data(), sig.data(), sig.size()) == 0;
}

}  // namespace

std::optional<std::string> typeForFileExtension(std::string_view extension) {
    return typeFromExtensionText(extension, false);
}

std::vector<std::string> fileExtensionsForType(std::string_view type) {
    std::vector<std::string> out;
    for (const auto& e : kExtensions)
        if (!e.directory && e.type == type) out.emplace_back(e.extension);
    return out;
}

std::vector<std::string> knownFileExtensions() {
    std::vector<std::string> out;
    for (const auto& e : kExtensions)
        if (!e.directory) out.emplace_back(e.extension);
    return out;
}

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
    const FileBytes file(fd);
    // Enough for every signature below; the Mach-O reader reads its own.
    std::vector<std::uint8_t> head;
    if (!file.read(0, std::min<std::uint64_t>(file.size(), 16), head)) return std::nullopt;
    if (auto type = imageType(head)) return type;
    using namespace std::string_view_literals;
    if (startsWith(head, "\x89PNG\r\n\x1A\n"sv)) return "public.png";
    if (startsWith(head, "GIF87a"sv) || startsWith(head, "GIF89a"sv)) return "com.compuserve.gif";
    if (startsWith(head, "RIFF"sv) && head.size() >= 12 && std::memcmp(head.data() + 8, "WEBP", 4) == 0)
        return "org.webmproject.webp";
    if (startsWith(head, "%PDF-"sv)) return "com.adobe.pdf";
    if (const auto identity = macho::identify(file)) return machOType(*identity);
    return std::nullopt;
}

std::optional<std::string> FileTypeService::typeOfFile(const std::string& path) const {
    // A NUL inside the text would silently name another file.
    if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
    struct stat st{};
    // A regular file that is no link goes by the name it is given: resolving
    // the path (a readlink for every folder on the way) ends in that name.
    const bool plainFile = ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    if (!plainFile && ::stat(path.c_str(), &st) != 0) return std::nullopt;  // also a dangling link
    // A link is its target's kind, by the target's own name.
    std::string name = path;
    if (!plainFile) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            name = resolved;
            std::free(resolved);
        }
    }
    if (S_ISDIR(st.st_mode)) {
        // A folder that cannot be opened cannot be looked into either.
        if (!FileDescriptor(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))) return std::nullopt;
        if (auto type = typeFromExtension(name, true)) return type;
        return "public.folder";
    }
    // Pipes, sockets and devices are never opened: reading them could block.
    if (!S_ISREG(st.st_mode)) return "public.item";
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) return std::nullopt;
    std::optional<std::string> type = typeFromExtension(name, false);
    if (!type) {
        type = typeFromContent(fd.get());
        if (!type) {
            // Swapped for something else between the two looks: say no more than "an item".
            struct stat now{};
            type = ::fstat(fd.get(), &now) == 0 && S_ISREG(now.st_mode) ? "public.data" : "public.item";
        }
    }
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
