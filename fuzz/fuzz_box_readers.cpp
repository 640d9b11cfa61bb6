// SPDX-License-Identifier: GPL-3.0-or-later
// The container readers over any bytes: the first byte picks the reader
// (HEIF's item tables with libheif after them, libheif alone behind its
// bounded reader, JPEG XL's boxes and Brotli, CR3's boxes and the joining of
// its TIFF blocks), so that each sees inputs shaped for it; what they give
// then goes through the EXIF conversion as in a report.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

#include "FuzzSupport.h"
#include "platform/Bytes.h"
#include "platform/image/Cr3Reader.h"
#include "platform/image/ExivReader.h"
#include "platform/image/HeifReader.h"
#include "platform/image/JxlReader.h"

using namespace vesk::platform;
using namespace vesk::platform::image;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t pick = data[0] % 4;
    const ByteSpan bytes(data + 1, size - 1);
    const SpanSource source(bytes);
    switch (pick) {
    case 0: {
        const std::string path = vesk::fuzz::scratchFile(bytes.data(), bytes.size(), "input.heic");
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return 0;
        {
            const FileBytes file(fd);
            // Bit 2 of the first byte: libheif alone, which the tables spare most files.
            const auto read = (data[0] & 4) ? readHeifThroughLibheif : readHeif;
            if (auto heif = read(file)) (void)readExifBlockWithExiv2(std::move(heif->exifTiff), heif->xmp);
        }
        ::close(fd);
        break;
    }
    case 1:
        if (auto jxl = readJxl(source)) (void)readExifBlockWithExiv2(std::move(jxl->exifTiff), jxl->xmp);
        break;
    case 2:
        if (auto cr3 = readCr3(source)) (void)readExifBlockWithExiv2(std::move(cr3->exifTiff), cr3->xmp);
        break;
    default: {
        // Four TIFF blocks cut from the input at the offsets its first bytes name.
        const auto at = [&](std::size_t i) { return std::min<std::size_t>(bytes.size(), i < bytes.size() ? bytes[i] * 16u : 0); };
        const std::size_t a = at(0), b = std::max(a, at(1)), c = std::max(b, at(2));
        const auto joined = joinCanonTiffBlocks(bytes.subspan(0, a), bytes.subspan(a, b - a), bytes.subspan(b, c - b),
                                                bytes.subspan(c));
        (void)readExifBlockWithExiv2(joined);
        (void)brotliDecompress(bytes, 1 << 20);
        break;
    }
    }
    return 0;
}
