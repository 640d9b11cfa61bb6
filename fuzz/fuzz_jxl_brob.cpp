// SPDX-License-Identifier: GPL-3.0-or-later
// JPEG XL containers built from the input: a codestream box, then chains of
// 'brob' boxes (each a valid Brotli stream of a run the input sizes, up to
// past the metadata budget, or the input's own bytes) among plain Exif and
// XMP boxes, so the mutations land on the Brotli budget shared by the file
// and on where the walk may stop.
#include <brotli/encode.h>

#include "Shapes.h"
#include "platform/Bytes.h"
#include "platform/image/ExivReader.h"
#include "platform/image/JxlReader.h"

using namespace vesk::platform;
using namespace vesk::platform::image;
using vesk::fuzz::box;
using vesk::fuzz::Choices;

namespace {

// Brotli of `length` copies of one byte, made once per length class.
const std::string& run(std::uint8_t lengthClass) {
    static std::string made[8];
    std::string& out = made[lengthClass % 8];
    if (out.empty()) {
        const std::size_t length = std::size_t{1} << (10 + 2 * (lengthClass % 8));  // 1 KB to 16 MB
        const std::string plain(length + (lengthClass % 8 == 7), 'a');
        std::string packed(BrotliEncoderMaxCompressedSize(plain.size()), '\0');
        std::size_t size = packed.size();
        BrotliEncoderCompress(5, BROTLI_MAX_WINDOW_BITS, BROTLI_MODE_GENERIC, plain.size(),
                              reinterpret_cast<const std::uint8_t*>(plain.data()), &size,
                              reinterpret_cast<std::uint8_t*>(packed.data()));
        out = packed.substr(0, size);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Choices in(data, size);
    std::string file = std::string{0, 0, 0, 12, 'J', 'X', 'L', ' ', 0x0D, 0x0A, char(0x87), 0x0A} +
                       box("ftyp", std::string("jxl ") + std::string(4, '\0') + "jxl ");
    const std::uint32_t boxes = in.upTo(4200);
    bool codestream = false;
    for (std::uint32_t i = 0; i < boxes; ++i) {
        const std::uint8_t kind = in.byte();
        const char* inner = (kind & 0x10) ? "xml " : "Exif";
        switch (kind % 5) {
        case 0: file += box("brob", inner + run(in.byte())); break;
        case 1: {
            std::string junk;
            for (std::uint32_t n = in.upTo(64); n > 0; --n) junk += char(in.byte());
            file += box("brob", inner + junk);
            break;
        }
        case 2: file += box(inner, std::string(4, '\0') + "II*" + std::string(5, '\0')); break;
        case 3:
            if (!codestream) file += box("jxlc", std::string{char(0xFF), 0x0A, char(in.byte()), char(in.byte())});
            codestream = true;
            break;
        default: file += box("jxlp", std::string(4, '\0') + std::string{char(0xFF), 0x0A, 0, 0}); break;
        }
    }
    const SpanSource source(ByteSpan(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()));
    if (auto jxl = readJxl(source)) (void)readExifBlockWithExiv2(std::move(jxl->exifTiff), jxl->xmp);
    return 0;
}
