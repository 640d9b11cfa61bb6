// SPDX-License-Identifier: GPL-3.0-or-later
// What a bundle says of itself beyond its executable's architectures: who it
// is (Info.plist), what it asks the user for (NS…UsageDescription), its
// executable's slices in detail, and the code nested under Contents/.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/Result.h"
#include "platform/macho/CodeDetails.h"

namespace vesk::platform::macho {

// The Info.plist keys that tell who a bundle is, in the order they are shown.
inline constexpr const char* kBundleIdentityKeys[] = {"CFBundleIdentifier", "CFBundleShortVersionString",
                                                      "CFBundleVersion", "LSMinimumSystemVersion",
                                                      "CFBundleExecutable"};

// Code inside a bundle: a framework, plug-in, helper or library.
struct NestedCode {
    std::string relativePath;  // from the bundle's folder: "Contents/Frameworks/Kit.framework"
    Result<std::vector<SliceDetails>> slices = Result<std::vector<SliceDetails>>::failure("not read");
};

struct BundleDetails {
    std::vector<std::pair<std::string, std::string>> identity;  // kBundleIdentityKeys it has, as text
    // NSCameraUsageDescription, ... and the reason given, in key order
    std::vector<std::pair<std::string, std::string>> usage;
    std::string executableName;          // "" when there is none
    Result<std::vector<SliceDetails>> executable = Result<std::vector<SliceDetails>>::failure("no executable");
    std::vector<NestedCode> nested;
    bool nestedCut = false;  // more nested code than the reader lists
};

// At most this much nested code is listed; only the bundle's own folders
// that hold code are looked in, one level deep, and links are not followed,
// so a loop or a tower of bundles costs nothing.
inline constexpr std::size_t kMaxNestedCode = 64;
// Each nested item is read under smaller signature budgets, so that all of
// them together cost what one large executable may.
inline constexpr CodeBudget kNestedCodeBudget{.signatureBytes = 1u << 20, .codeDirectoryBytes = 1u << 20};

// Nothing read fails the whole: each part carries its own reason.
BundleDetails readBundleDetails(const std::string& path);

// "camera", "microphone", "location": what a usage key asks for, in words.
std::string usageName(const std::string& key);

}  // namespace vesk::platform::macho
