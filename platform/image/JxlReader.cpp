// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/JxlReader.h"

#include <brotli/decode.h>

#include <array>
#include <memory>

#include "platform/image/ImageKind.h"
#include "platform/image/IsoBox.h"

namespace vesk::platform::image {
namespace {

// The codestream's fields are packed least significant bit first.
class BitReader {
public:
    explicit BitReader(ByteSpan bytes) : bytes_(bytes) {}
    std::uint32_t bits(unsigned n) {
        std::uint32_t v = 0;
        for (unsigned i = 0; i < n; ++i, ++pos_) {
            if (pos_ / 8 >= bytes_.size()) {
                overrun_ = true;
                return 0;
            }
            v |= std::uint32_t((bytes_[pos_ / 8] >> (pos_ % 8)) & 1u) << i;
        }
        return v;
    }
    bool overrun() const { return overrun_; }

private:
    ByteSpan bytes_;
    std::uint64_t pos_ = 0;
    bool overrun_ = false;
};

// U32(Bits(9)+1, Bits(13)+1, Bits(18)+1, Bits(30)+1): an image dimension.
std::uint32_t dimension(BitReader& r) {
    static constexpr unsigned kWidths[] = {9, 13, 18, 30};
    return r.bits(kWidths[r.bits(2)]) + 1;
}

// A SizeHeader: the height, then the width as its own field or as a fixed ratio of it.
bool sizeHeader(BitReader& r, std::uint32_t& width, std::uint32_t& height) {
    const bool small = r.bits(1);
    height = small ? (r.bits(5) + 1) * 8 : dimension(r);
    const std::uint32_t ratio = r.bits(3);
    static constexpr std::array<std::array<std::uint64_t, 2>, 8> kRatios{
        {{1, 1}, {1, 1}, {12, 10}, {4, 3}, {3, 2}, {16, 9}, {5, 4}, {2, 1}}};
    if (ratio == 0)
        width = small ? (r.bits(5) + 1) * 8 : dimension(r);
    else
        width = static_cast<std::uint32_t>(std::uint64_t{height} * kRatios[ratio][0] / kRatios[ratio][1]);
    return !r.overrun();
}

}  // namespace

bool readJxlSizeHeader(ByteSpan codestream, JxlImage& out) {
    if (codestream.size() < 3 || codestream[0] != 0xFF || codestream[1] != 0x0A) return false;
    BitReader r(codestream.subspan(2));
    std::uint32_t width = 0, height = 0;
    if (!sizeHeader(r, width, height)) return false;
    out.width = width;
    out.height = height;
    // The image metadata: all defaults means 8-bit integer samples. Past a
    // preview or animation header the depth is not looked for.
    if (r.bits(1)) {
        out.depth = 8;
    } else {
        if (r.bits(1)) {  // extra fields
            r.bits(3);    // orientation (EXIF's is shown)
            std::uint32_t w = 0, h = 0;
            if (r.bits(1) && !sizeHeader(r, w, h)) return true;  // intrinsic size
            if (r.bits(1) || r.bits(1)) return true;             // preview, animation
        }
        const bool floatSamples = r.bits(1);
        std::uint32_t bits = 0;
        switch (r.bits(2)) {
        case 0: bits = floatSamples ? 32 : 8; break;
        case 1: bits = floatSamples ? 16 : 10; break;
        case 2: bits = floatSamples ? 24 : 12; break;
        default: bits = r.bits(6) + 1; break;
        }
        if (!r.overrun() && bits >= 1 && bits <= 32) out.depth = static_cast<std::uint8_t>(bits);
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> brotliDecompress(ByteSpan compressed, std::size_t maxBytes,
                                                          std::size_t* expanded) {
    std::size_t made = 0;
    struct Tell {
        std::size_t* to;
        const std::size_t& made;
        ~Tell() {
            if (to) *to = made;
        }
    } tell{expanded, made};
    std::unique_ptr<BrotliDecoderState, decltype(&BrotliDecoderDestroyInstance)> state(
        BrotliDecoderCreateInstance(nullptr, nullptr, nullptr), BrotliDecoderDestroyInstance);
    if (!state) return std::nullopt;
    std::vector<std::uint8_t> out;
    std::size_t availableIn = compressed.size();
    const std::uint8_t* nextIn = compressed.data();
    std::array<std::uint8_t, 64 * 1024> chunk{};
    for (;;) {
        std::size_t availableOut = chunk.size();
        std::uint8_t* nextOut = chunk.data();
        const auto result =
            BrotliDecoderDecompressStream(state.get(), &availableIn, &nextIn, &availableOut, &nextOut, nullptr);
        const std::size_t produced = chunk.size() - availableOut;
        made += produced;
        if (out.size() + produced > maxBytes) return std::nullopt;
        out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(produced));
        if (result == BROTLI_DECODER_RESULT_SUCCESS) return out;
        // Out of input before the stream ended, or corrupt.
        if (result != BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT) return std::nullopt;
    }
}

std::optional<JxlImage> readJxl(const ByteSource& file) {
    std::array<std::uint8_t, 12> head{};
    if (file.size() < 2 || !file.read(0, std::span(head).first(std::min<std::size_t>(12, file.size()))))
        return std::nullopt;
    if (!isJpegXl(std::span(head).first(std::min<std::size_t>(12, file.size())))) return std::nullopt;
    JxlImage out;
    // The size header fits in a few bytes; 64 leave room for the image metadata.
    const auto codestreamHead = [&](std::uint64_t offset, std::uint64_t length) {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min<std::uint64_t>(length, 64)));
        if (file.read(offset, bytes)) readJxlSizeHeader(bytes, out);
    };
    if (head[0] == 0xFF) {
        codestreamHead(0, file.size());
        return out;
    }
    bool sawCodestream = false;
    // One Brotli budget for the whole file: each box expanded to the cap in
    // turn made thousands of small boxes cost minutes.
    std::size_t brotliLeft = kMaxJxlMetadataBytes;
    bool brotliCut = false;
    // And one budget for the metadata boxes read, which a failed expansion
    // does not spend.
    std::uint64_t readLeft = kMaxJxlReadBytes;
    bool readCut = false;
    const auto cut = [&](const char* what, std::uint64_t bytes) {
        if (!out.budgetCut.empty()) out.budgetCut += ", ";
        out.budgetCut += std::string("a JPEG XL ") + what + " box of " + std::to_string(bytes >> 20) + " MB not read";
    };
    for (const IsoBox& box : listIsoBoxes(file, 0, file.size(), kMaxJxlBoxes)) {
        // Everything shown is found: the rest of the file is not read.
        if (sawCodestream && !out.exifTiff.empty() && !out.xmp.empty()) break;
        std::uint32_t type = box.type;
        std::optional<std::vector<std::uint8_t>> content;
        if (type == fourcc("jxlc") && !sawCodestream) {
            sawCodestream = true;
            codestreamHead(box.contentOffset, box.contentLength);
            continue;
        }
        if (type == fourcc("jxlp") && !sawCodestream && box.contentLength > 4) {
            // A 4-byte part index, then the part; the first part holds the header.
            sawCodestream = true;
            codestreamHead(box.contentOffset + 4, box.contentLength - 4);
            continue;
        }
        const bool brob = type == fourcc("brob");
        if (brob) {
            std::array<std::uint8_t, 4> inner{};
            if (box.contentLength < 4 || !file.read(box.contentOffset, inner)) continue;
            type = *readU32(inner, 0, true);
        }
        if (type != fourcc("Exif") && type != fourcc("xml ")) continue;
        if ((type == fourcc("Exif") && !out.exifTiff.empty()) || (type == fourcc("xml ") && !out.xmp.empty())) continue;
        // Spent: no later box is read or expanded.
        if (brob && brotliLeft == 0) continue;
        if (box.contentLength > readLeft) {
            if (!readCut) {
                readCut = true;
                if (!out.budgetCut.empty()) out.budgetCut += ", ";
                out.budgetCut += "JPEG XL metadata boxes past " + std::to_string(kMaxJxlReadBytes >> 20) + " MB not read";
            }
            continue;
        }
        content = readIsoBoxContent(file, box, kMaxJxlMetadataBytes);
        if (content) readLeft -= content->size();
        if (!content) {
            cut(brob ? "brob" : "metadata", box.contentLength);
            continue;
        }
        if (brob) {
            std::size_t expanded = 0;
            content = brotliDecompress(std::span(*content).subspan(4), brotliLeft, &expanded);
            brotliLeft -= std::min(brotliLeft, expanded);
            if (!content) {
                if (brotliLeft == 0 && !brotliCut) {
                    brotliCut = true;
                    if (!out.budgetCut.empty()) out.budgetCut += ", ";
                    out.budgetCut += "JPEG XL Brotli boxes past " + std::to_string(kMaxJxlMetadataBytes >> 20) +
                                     " MB expanded not read";
                }
                continue;
            }
        }
        if (type == fourcc("xml ")) {
            out.xmp.assign(content->begin(), content->end());
        } else if (content->size() > 4) {
            // The offset of the TIFF header past the box's first 4 bytes.
            const std::uint64_t skip = 4 + std::uint64_t{*readU32(*content, 0, true)};
            if (skip < content->size())
                out.exifTiff.assign(content->begin() + static_cast<std::ptrdiff_t>(skip), content->end());
        }
    }
    return out;
}

}  // namespace vesk::platform::image
