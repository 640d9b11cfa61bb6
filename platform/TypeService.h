// SPDX-License-Identifier: GPL-3.0-or-later
// The type-identification service: a path's type identifier and the
// conformance of one identifier to another, as the workspace answers them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::platform {

// Identifiers of the kinds the drop area accepts.
inline constexpr const char* kUTTypeJPEG = "public.jpeg";
inline constexpr const char* kUTTypeJPEG2000 = "public.jpeg-2000";
inline constexpr const char* kUTTypeTIFF = "public.tiff";
inline constexpr const char* kUTTypeBundle = "com.apple.bundle";
// Today's photo formats, accepted after the five above. HEIC conforms to HEIF.
inline constexpr const char* kUTTypeHEIF = "public.heif";
inline constexpr const char* kUTTypeAVIF = "public.avif";
inline constexpr const char* kUTTypeJPEGXL = "public.jpeg-xl";
inline constexpr const char* kUTTypeCanonCR3 = "com.canon.cr3-raw-image";
inline constexpr const char* kUTTypeMachODylib = "com.apple.mach-o-dylib";

class TypeService {
public:
    virtual ~TypeService() = default;
    // typeOfFile:error: — nothing when nothing is at the path or it cannot be read.
    virtual std::optional<std::string> typeOfFile(const std::string& path) const = 0;
    // type:conformsToType: — true when `type` is `parent` or descends from it.
    virtual bool conformsTo(const std::string& type, const std::string& parent) const = 0;
};

// Identifies files by the name's extension first, then by their first bytes.
class FileTypeService : public TypeService {
public:
    std::optional<std::string> typeOfFile(const std::string& path) const override;
    bool conformsTo(const std::string& type, const std::string& parent) const override;
};

// The identifier a file-name extension (any letter case) stands for, as the
// type service reads a file's name; nothing for an extension it does not know.
std::optional<std::string> typeForFileExtension(std::string_view extension);
// Every file-name extension that stands for `type`, lower case: "jpg",
// "jpeg", "jpe", "jfif" for the JPEG type.
std::vector<std::string> fileExtensionsForType(std::string_view type);

// Every file-name extension the type service knows for files (not folder
// kinds), lower case, in its table's order.
std::vector<std::string> knownFileExtensions();

// The direct parents of an identifier in the hierarchy; empty for unknown ones.
std::vector<std::string_view> typeParents(std::string_view type);

// What the first bytes of a file say, or nothing: JPEG, TIFF, JPEG 2000,
// HEIF, HEIC, AVIF, JPEG XL, CR3, PNG, GIF, PDF and the Mach-O kinds (thin in
// either byte order, 32/64-bit, fat).
std::optional<std::string> typeFromContent(int fd);

}  // namespace vesk::platform
