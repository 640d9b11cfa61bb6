// SPDX-License-Identifier: GPL-3.0-or-later
// What Vesk reads, one row per kind of file. Every entry point reads this
// table: the drop area takes the rows' types in order, the Open dialog offers
// their extensions, the window's command line names them in its help, and the
// desktop entry and the AppStream metainfo list their media types (a test
// holds both files to it). A new format is one row here and a reader.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vesk::platform {

struct Format {
    std::string_view name;        // as a person names it
    std::string_view type;        // the type identifier a file must conform to
    std::string_view mediaTypes;  // ';'-separated, for the desktop; empty for folders
};

// The drop area's five first and in this order, which decide first; then the
// other images the image reader reads (Exiv2 opens PNG, WebP, GIF, DNG and
// the raw formats; the camera-raw row covers the raws not named above it).
inline constexpr Format kFormats[] = {
    {"JPEG", "public.jpeg", "image/jpeg"},
    {"JPEG 2000", "public.jpeg-2000", "image/jp2;image/jpx;image/jpm"},
    {"TIFF", "public.tiff", "image/tiff"},
    {"macOS bundle", "com.apple.bundle", ""},
    {"Mach-O library", "com.apple.mach-o-dylib", "application/x-mach-binary"},
    {"HEIF/HEIC", "public.heif", "image/heic;image/heif"},
    {"AVIF", "public.avif", "image/avif"},
    {"JPEG XL", "public.jpeg-xl", "image/jxl"},
    {"Canon CR3", "com.canon.cr3-raw-image", "image/x-canon-cr3"},
    {"PNG", "public.png", "image/png"},
    {"WebP", "org.webmproject.webp", "image/webp"},
    {"GIF", "com.compuserve.gif", "image/gif"},
    {"DNG", "com.adobe.raw-image", "image/x-adobe-dng"},
    {"camera raw", "public.camera-raw-image",
     "image/x-canon-cr2;image/x-canon-crw;image/x-nikon-nef;image/x-nikon-nrw;image/x-sony-arw;image/x-sony-sr2;"
     "image/x-sony-srf;image/x-olympus-orf;image/x-panasonic-rw2;image/x-pentax-pef;image/x-fuji-raf;"
     "image/x-samsung-srw;image/x-minolta-mrw"},
};

// The rows' type identifiers, in order.
std::vector<std::string> formatTypes();
// Every file-name extension of a type that conforms to a row's type, lower
// case, each once, in the rows' order: "jpg", "jpeg", ..., "dylib", "heic", ...
std::vector<std::string> formatExtensions();
// Every media type of the rows, in order, each once.
std::vector<std::string> formatMediaTypes();
// The rows' names in a sentence: "JPEG, JPEG 2000, ... and camera raw".
std::string formatNames();

}  // namespace vesk::platform
