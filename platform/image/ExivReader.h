// What Exiv2 reads from a file, already turned into property-list values.
// The one source file that includes Exiv2 implements this; nothing else sees it.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "platform/Value.h"

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
// The same over bytes in memory, which must outlive the call: the head of a
// JPEG up to its first scan holds all its metadata, and reading it from
// memory spares Exiv2 opening and reading the file again.
ExivMetadata readWithExiv2(std::span<const std::uint8_t> bytes);

}  // namespace vesk::platform::image
