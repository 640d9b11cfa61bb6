// SPDX-License-Identifier: GPL-3.0-or-later
#include "inspector/Routing.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <optional>

#include "platform/FileSystem.h"
#include "platform/Result.h"
#include "platform/macho/MachOConstants.h"

namespace vesk {

namespace {

namespace macho = platform::macho;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// The first row that matches decides: by the path's extension, or by the
// type the type service finds; a row with neither takes every path.
struct Route {
    const char* extension;
    const char* type;
    ReportKind kind;
};

constexpr Route kRoutes[] = {
    {"bundle", nullptr, ReportKind::Bundle},
    {"dylib", nullptr, ReportKind::Library},
    {nullptr, platform::kUTTypeBundle, ReportKind::Bundle},
    {nullptr, platform::kUTTypeMachODylib, ReportKind::Library},
    {nullptr, nullptr, ReportKind::Image},
};

struct ArchitectureRow {
    std::int32_t cpuType;
    std::string_view logText;
    std::string_view name;
};

// A code matches a row by equality only.
constexpr ArchitectureRow kArchitectures[] = {
    {macho::CPU_TYPE_I386, "NSBundleExecutableArchitectureI386", "i386"},
    {macho::CPU_TYPE_POWERPC, "NSBundleExecutableArchitecturePPC", "ppc"},
    {macho::CPU_TYPE_X86_64, "NSBundleExecutableArchitectureX86_64", "x86_64"},
    {macho::CPU_TYPE_POWERPC64, "NSBundleExecutableArchitecturePPC64", "ppc64"},
    // Apple silicon; the platform's own list of executable architectures names it.
    {macho::CPU_TYPE_ARM64, "NSBundleExecutableArchitectureARM64", "arm64"},
};
constexpr std::string_view kUnknownArchitecture = "Unknown_Architecture";

struct SubtypeRow {
    std::int32_t cpuType;
    std::int32_t cpuSubtype;  // -1: any
    std::string_view name;
};

// The first row that matches names the slice; subtypes as <mach/machine.h>
// numbers them, the capability bits masked off.
constexpr SubtypeRow kSubtypes[] = {
    {macho::CPU_TYPE_ARM64, 2, "arm64e"},
    {macho::CPU_TYPE_ARM64, -1, "arm64"},
    {macho::CPU_TYPE_X86_64, 8, "x86_64h"},
    {macho::CPU_TYPE_X86_64, -1, "x86_64"},
    {macho::CPU_TYPE_I386, -1, "i386"},
    {macho::CPU_TYPE_ARM64_32, -1, "arm64_32"},
    {macho::CPU_TYPE_ARM, 9, "armv7"},
    {macho::CPU_TYPE_ARM, 11, "armv7s"},
    {macho::CPU_TYPE_ARM, 12, "armv7k"},
    {macho::CPU_TYPE_ARM, 6, "armv6"},
    {macho::CPU_TYPE_ARM, -1, "arm"},
    {macho::CPU_TYPE_POWERPC, -1, "ppc"},
    {macho::CPU_TYPE_POWERPC64, -1, "ppc64"},
};
constexpr std::int32_t kSubtypeCapabilities = static_cast<std::int32_t>(0xff000000u);

}  // namespace

std::string sliceArchitectureName(std::int32_t cpuType, std::int32_t cpuSubtype) {
    const std::int32_t subtype = cpuSubtype & ~kSubtypeCapabilities;
    for (const auto& row : kSubtypes)
        if (row.cpuType == cpuType && (row.cpuSubtype < 0 || row.cpuSubtype == subtype)) return std::string(row.name);
    return "cputype " + platform::hexText(static_cast<std::uint32_t>(cpuType));
}

ReportKind reportKindFor(const std::string& path, const platform::TypeService& types) {
    const std::string ext = platform::pathExtension(path);
    std::optional<std::optional<std::string>> type;  // asked at most once
    for (const auto& route : kRoutes) {
        if (route.extension) {
            if (equalsIgnoringCase(ext, route.extension)) return route.kind;
        } else if (route.type) {
            if (!type) type = types.typeOfFile(path);
            if (*type && types.conformsTo(**type, route.type)) return route.kind;
        } else {
            return route.kind;
        }
    }
    return std::prev(std::end(kRoutes))->kind;
}

std::string architectureLogText(std::int32_t cpuType) {
    for (const auto& row : kArchitectures)
        if (row.cpuType == cpuType) return std::string(row.logText);
    return std::string(kUnknownArchitecture);
}

std::string_view architectureName(std::string_view logText) {
    for (const auto& row : kArchitectures)
        if (row.logText == logText) return row.name;
    return logText == kUnknownArchitecture ? "unknown" : logText;
}

}  // namespace vesk
