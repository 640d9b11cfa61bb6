// SPDX-License-Identifier: GPL-3.0-or-later
// HEIF files built from the input, always well framed, so the mutations land
// on what the item tables and the budgets before libheif must bound: many
// items naming one block, alpha references times properties, compressed
// items, crops, grids of tiles. Each goes through readHeif (the tables, then
// libheif when they leave something open) and the EXIF conversion.
#include <fcntl.h>
#include <unistd.h>

#include "FuzzSupport.h"
#include "Shapes.h"
#include "platform/Bytes.h"
#include "platform/image/ExivReader.h"
#include "platform/image/HeifReader.h"

using namespace vesk::platform;
using namespace vesk::platform::image;
using vesk::fuzz::box;
using vesk::fuzz::Choices;
using vesk::fuzz::putBig;

namespace {

std::string full(const char* type, const std::string& content, int version = 0) {
    return box(type, std::string(1, char(version)) + std::string(3, '\0') + content);
}
std::string big(std::uint64_t v, int bytes) {
    std::string b;
    putBig(b, v, bytes);
    return b;
}

std::string heif(Choices& in, std::uint64_t mdatAt) {
    const std::uint32_t items = 1 + in.upTo(300);
    const std::uint32_t auxRefs = in.upTo(2000), auxProperties = in.upTo(3000);
    const bool crop = in.byte() & 1;
    std::string infos, locations, refs;
    for (std::uint32_t id = 1; id <= items; ++id) {
        const std::uint8_t kind = id == 1 ? 0 : in.byte() % 5;
        static const char* const kTypes[] = {"hvc1", "Exif", "mime", "grid", "av01"};
        std::string rest(1, '\0');
        if (kind == 2) rest += std::string("application/rdf+xml\0", 20) + ((in.byte() & 1) ? std::string("deflate\0", 8) : "");
        infos += full("infe", big(id, 2) + big(0, 2) + kTypes[kind] + rest, 2);
        // Every item names a stretch of one small block, often the same one.
        locations += big(id, 2) + big(0, 2) + big(1, 2) + big(mdatAt + 16 + in.upTo(60), 8) + big(in.upTo(64), 8);
        if (id > 1 && (kind == 1 || kind == 2)) refs += box("cdsc", big(id, 2) + big(1, 2) + big(1, 2));
        if (id > 1 && kind == 3) refs += box("dimg", big(1, 2) + big(1, 2) + big(id, 2));
    }
    for (std::uint32_t i = 0; i < auxRefs; ++i) refs += box("auxl", big(1 + in.upTo(items - 1), 2) + big(1, 2) + big(1, 2));
    std::string hvcC(23, '\0');
    hvcC[0] = 1;
    const std::string properties = box("hvcC", hvcC) + full("ispe", big(in.upTo(1 << 16), 4) + big(in.upTo(1 << 16), 4)) +
                                   full("auxC", std::string("urn:mpeg:hevc:2015:auxid:1\0", 27)) +
                                   box("clap", std::string(32, char(in.byte()))) + box("irot", std::string(1, char(in.byte())));
    std::string associations = big(1, 2) + (crop ? std::string{3, char(0x81), char(0x02), char(0x04)}
                                                 : std::string{3, char(0x81), char(0x02), char(0x05)});
    std::uint32_t entries = 1;
    for (std::uint32_t left = auxProperties; left > 0; ++entries) {
        const std::uint32_t n = std::min<std::uint32_t>(left, 255);
        associations += big(1 + in.upTo(items - 1), 2) + std::string(1, char(n));
        for (std::uint32_t k = 0; k < n; ++k) associations += char(0x80 | (1 + in.byte() % 5));
        left -= n;
    }
    const std::string meta = full(
        "meta", full("hdlr", big(0, 4) + "pict" + std::string(13, '\0')) + full("pitm", big(1, 2)) +
                    full("iinf", big(items, 2) + infos) + full("iloc", std::string{char(0x88), 0} + big(items, 2) + locations) +
                    full("iref", refs) + box("iprp", box("ipco", properties) + full("ipma", big(entries, 4) + associations)));
    return box("ftyp", "heic" + big(0, 4) + "mif1heic") + meta;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Choices first(data, size);
    const std::uint64_t mdatAt = heif(first, 0).size();
    Choices in(data, size);
    std::string file = heif(in, mdatAt);
    // The block the items name: an Exif item's offset, a TIFF header, then the input's own bytes.
    std::string block = big(0, 4) + "II*" + std::string(1, '\0') + big(0x08000000, 4);
    for (int i = 0; i < 52; ++i) block += char(in.byte());
    file += big(1, 4) + "mdat" + big(16 + block.size(), 8) + block;
    const std::string path = vesk::fuzz::scratchFile(reinterpret_cast<const std::uint8_t*>(file.data()), file.size(),
                                                     "shape.heic");
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    {
        const FileBytes bytes(fd);
        if (auto image = readHeif(bytes)) (void)readExifBlockWithExiv2(std::move(image->exifTiff), image->xmp);
    }
    ::close(fd);
    return 0;
}
