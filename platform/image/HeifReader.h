// SPDX-License-Identifier: GPL-3.0-or-later
// The HEIF family (HEIC, HEIF, HIF, AVIF): the primary image's size, depth
// and alpha, and the metadata blocks it carries. Read from the item tables
// by Vesk itself, and through libheif where those leave something open; the
// one source file that includes libheif implements this.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Bytes.h"

namespace vesk::platform::image {

// libheif is handed the file through a reader that hands over only zeros
// past this many bytes (and the result is then dropped); real HEIF metadata
// is a few hundred KB at most, and a report never reads or decodes pixel data
// (only a preview does, through decodeHeifPreview).
inline constexpr std::uint64_t kMaxHeifReadBytes = 64 << 20;
// A top-level 'meta' box larger than this is not handed to libheif at all;
// real ones hold a few KB of item tables.
inline constexpr std::uint64_t kMaxHeifMetaBoxBytes = 16 << 20;
// Files whose item tables name more than these are not handed to libheif,
// which reads every item whole and inflates compressed ones as it opens a
// file: items (real photos have tens to a few hundred), and compressed
// items and their bytes (a deflate stream may grow a thousandfold).
inline constexpr std::size_t kMaxLibheifItems = 4096;
inline constexpr std::size_t kMaxLibheifCompressedItems = 1;
inline constexpr std::uint64_t kMaxLibheifCompressedBytes = 16 << 10;
// Each metadata block (EXIF, XMP, ICC profile) is copied only up to this.
inline constexpr std::size_t kMaxHeifMetadataBytes = 16 << 20;

struct HeifImage {
    // The primary image as stored ('ispe'), before the turn its 'irot'
    // property asks for (the EXIF orientation tells the same), after a crop.
    std::uint32_t width = 0, height = 0;
    std::optional<std::uint8_t> depth;
    bool hasAlpha = false;
    bool monochrome = false;
    std::vector<std::uint8_t> exifTiff;  // from the TIFF header on
    std::string xmp;
    std::vector<std::uint8_t> iccProfile;
    // What a budget left out, in a few words; empty when nothing was.
    std::string budgetCut;
    // Why the file could not be read in full, when libheif was needed and
    // could not be loaded; empty otherwise.
    std::string notRead;

    bool operator==(const HeifImage&) const = default;
};

// Nothing when libheif cannot read the file as HEIF (or a budget refuses it);
// never throws and never writes to the log.
std::optional<HeifImage> readHeif(const FileBytes& file);

// The two ways readHeif takes, so that they can be held against each other:
// the item tables alone (nothing when they leave something to libheif), and
// libheif alone (when it cannot be loaded, only `notRead` says why).
std::optional<HeifImage> readHeifFromItemTables(const FileBytes& file);
std::optional<HeifImage> readHeifThroughLibheif(const FileBytes& file);

// A picture of the primary image at `path` for a preview, decoded by libheif
// and turned as the file says: its own thumbnail when it has one, else the
// image itself. Nothing when it is no HEIF file, libheif cannot decode it,
// or it has more than `maxPixels`. The coded data is read this time, within
// kMaxHeifReadBytes. 8-bit RGBA, rows of width * 4 bytes.
struct DecodedPicture {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
};
std::optional<DecodedPicture> decodeHeifPreview(const std::string& path, std::uint64_t maxPixels);

}  // namespace vesk::platform::image
