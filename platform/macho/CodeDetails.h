// SPDX-License-Identifier: GPL-3.0-or-later
// What each slice of a Mach-O file says about itself in its load commands and
// its code signature: the platform it targets, what it links, who signed it.
// Every count, offset and size is checked against the slice and against a
// budget before it is used; a malformed slice gives an error naming the field,
// its value and where it was found.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Bytes.h"
#include "platform/Result.h"
#include "platform/macho/MachOReader.h"

namespace vesk::platform::macho {

// How much of a slice the reader is willing to look at. Real binaries stay far
// below each; a file beyond one is refused with the budget named.
struct CodeBudget {
    std::uint32_t loadCommands = 4096;
    std::uint32_t loadCommandBytes = 4u << 20;
    std::uint32_t libraries = 1024;
    std::uint32_t signatureBytes = 16u << 20;  // the code directories of a gigabyte binary fit in half
    std::uint32_t signatureBlobs = 64;
    std::uint32_t codeDirectoryBytes = 8u << 20;
    std::uint32_t entitlementBytes = 256u << 10;
};

struct LinkedLibrary {
    std::string name;
    std::string kind;  // "load", "weak", "reexport", "lazy", "upward"; "id" for the library's own name
    std::uint32_t currentVersion = 0;
    std::uint32_t compatibilityVersion = 0;
};

struct PlatformTarget {
    std::uint32_t platform = 0;  // PLATFORM_MACOS, ... (LC_VERSION_MIN_* mapped to the same numbers)
    std::uint32_t minimum = 0;   // xxxx.yy.zz packed in nibbles, as the command stores it
    std::uint32_t sdk = 0;
    bool fromBuildVersion = true;  // false: an LC_VERSION_MIN_* command
};

enum class SignatureKind { None, AdHoc, Signed };

struct CodeSignature {
    SignatureKind kind = SignatureKind::None;
    std::string identifier;
    std::string teamId;
    std::uint32_t flags = 0;        // CS_* of the code directory
    std::uint8_t hashType = 0;      // 1 SHA-1, 2 SHA-256, ...
    std::string cdHash;             // hex, 20 bytes as the system truncates it; empty unless SHA-256
    std::string entitlements;       // the XML property list as written
    std::uint32_t derEntitlementBytes = 0;  // the DER form is only measured
    std::uint32_t blobCount = 0;
};

struct SliceDetails {
    std::int32_t cputype = 0;
    std::int32_t cpusubtype = 0;
    std::uint32_t filetype = 0;
    std::uint32_t flags = 0;
    std::uint32_t loadCommands = 0;
    std::vector<PlatformTarget> targets;
    std::optional<std::array<std::uint8_t, 16>> uuid;
    std::optional<LinkedLibrary> installName;
    std::vector<LinkedLibrary> libraries;  // in load-command order
    std::vector<std::string> rpaths;
    CodeSignature signature;
};

// Every slice in file order, or the first reason one cannot be read.
Result<std::vector<SliceDetails>> readCodeDetails(const ByteSource& source, const CodeBudget& budget = {});
Result<std::vector<SliceDetails>> readCodeDetailsOfFile(const std::string& path, const CodeBudget& budget = {});

// The code signature blob of a slice: a SuperBlob with its code directory,
// requirements, entitlements and CMS wrapper.
Result<CodeSignature> readCodeSignature(ByteSpan blob, const CodeBudget& budget = {});

// "11.0", "14.2.1": a packed version as people write it.
std::string versionText(std::uint32_t packed);
// "macOS", "Mac Catalyst", "iOS Simulator", or "platform 42".
std::string platformName(std::uint32_t platform);
// "hardened runtime", "library validation", ... for the flags set, in bit order.
std::vector<std::string> signatureFlagNames(std::uint32_t flags);
// "MH_EXECUTE" -> "executable", "dynamic library", ...
std::string fileTypeName(std::uint32_t filetype);
// The UUID as 8-4-4-4-12 upper-case hex, as the tools print it.
std::string uuidText(const std::array<std::uint8_t, 16>& uuid);

}  // namespace vesk::platform::macho
