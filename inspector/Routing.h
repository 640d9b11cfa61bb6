// SPDX-License-Identifier: GPL-3.0-or-later
// Which report a file goes to, decided once for the inspector, the details
// view and vesk-info alike; and the one table of architecture names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/TypeService.h"

namespace vesk {

enum class ReportKind { Image, Bundle, Library };

// `.bundle` and `.dylib` by name (any letter case), then what the type
// service finds: bundle-type folders (.app, .framework, .plugin) and Mach-O
// libraries known by their first bytes; everything else is an image. The
// type service is asked at most once, and only when no name decides.
ReportKind reportKindFor(const std::string& path, const platform::TypeService& types);

// An executable's CPU type as the bundle report writes it
// ("NSBundleExecutableArchitectureARM64"; "Unknown_Architecture" for a code
// the table does not name).
std::string architectureLogText(std::int32_t cpuType);
// That text as people write the architecture ("arm64"); a text the table
// does not know comes back as it is.
std::string_view architectureName(std::string_view logText);
// A slice's architecture by its CPU type and subtype, as the tools name it
// ("arm64e", "x86_64h"); "cputype 0x..." for a pair no row names.
std::string sliceArchitectureName(std::int32_t cpuType, std::int32_t cpuSubtype);

}  // namespace vesk
