// What Exiv2 reads from a file, already turned into property-list values.
// The one source file that includes Exiv2 implements this; nothing else sees it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/Value.h"
#include "platform/image/Bytes.h"
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
// A JPEG's metadata read from its head, the bytes before the first scan,
// which hold every metadata segment: read in one go and handed to Exiv2 in
// memory, which spares it opening and reading the file again. Nothing when
// the walk found no scan or the head is larger than 8 MB (a hostile stream
// of huge segments); the file is then read by path.
std::optional<ExivMetadata> readJpegHeadWithExiv2(const FileBytes& file, const JpegHeader& jpeg);

}  // namespace vesk::platform::image
