// What Exiv2 reads from a file, already turned into property-list values.
// The one source file that includes Exiv2 implements this; nothing else sees it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/Value.h"
#include "platform/Bytes.h"
#include "platform/image/JpegHeader.h"

namespace vesk::platform::image {

struct ExivMetadata {
    bool recognized = false;  // Exiv2 knew the file's format
    bool bigEndian = false;   // byte order of the EXIF/TIFF data
    std::uint32_t pixelWidth = 0, pixelHeight = 0;
    Dictionary tiff, exif, gps, iptc, exifAux;
    std::map<std::string, Dictionary> makers;  // by top-level key, "{MakerCanon}", ...
    Data undecodedMakerNote;  // the MakerNote blob when Exiv2 has no decoder for it
    Data iccProfile;
};

// Never throws and never writes to the log. `path` must name a regular file.
ExivMetadata readWithExiv2(const std::string& path);
// A JPEG's metadata from the segments before its first scan (as listed by
// readJpegHeader), which hold all of it: the ones Exiv2 uses are read in one
// pass and handed to it in memory, which spares it opening and reading the
// file again. Nothing when the walk found no scan; the file is then read by
// path, as Exiv2 may find segments past a fault the walk stopped at.
std::optional<ExivMetadata> readJpegHeadWithExiv2(const FileBytes& file, const JpegHeader& jpeg);

}  // namespace vesk::platform::image
