// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/Jp2Header.h"

#include <vector>

#include "platform/image/IsoBox.h"

namespace vesk::platform::image {
namespace {

// A JP2 file has a handful of boxes before its header; these bound a hostile one.
constexpr int kMaxTopLevelBoxes = 256;
constexpr int kMaxHeaderBoxes = 256;
// The header boxes we read are small; a larger one is not worth reading whole.
constexpr std::uint64_t kMaxHeaderBoxBytes = 1 << 20;

using Box = IsoBox;

std::optional<Box> readBox(const FileBytes& file, std::uint64_t pos, std::uint64_t limit) {
    return readIsoBox(file, pos, limit);
}

std::optional<Jp2Header> readSiz(const FileBytes& file, std::uint64_t pos) {
    // SOC, SIZ marker, Lsiz, Rsiz, Xsiz, Ysiz, XOsiz, YOsiz, XTsiz, YTsiz,
    // XTOsiz, YTOsiz, Csiz, then Ssiz/XRsiz/YRsiz per component.
    std::vector<std::uint8_t> buf;
    if (!file.read(pos, 42, buf)) return std::nullopt;
    if (*readU16(buf, 0, true) != J2K_SOC || *readU16(buf, 2, true) != J2K_SIZ) return std::nullopt;
    const std::uint32_t xsiz = *readU32(buf, 8, true), ysiz = *readU32(buf, 12, true);
    const std::uint32_t xo = *readU32(buf, 16, true), yo = *readU32(buf, 20, true);
    const std::uint16_t csiz = *readU16(buf, 40, true);
    if (xo >= xsiz || yo >= ysiz || csiz == 0) return std::nullopt;
    Jp2Header h;
    h.width = xsiz - xo;
    h.height = ysiz - yo;
    h.components = csiz;
    std::vector<std::uint8_t> comps;
    if (file.read(pos + 42, std::size_t{3} * csiz, comps)) {
        const std::uint8_t first = comps[0] & 0x7F;
        bool same = true;
        for (std::size_t i = 0; i < csiz; ++i) same = same && (comps[i * 3] & 0x7F) == first;
        if (same) h.depth = static_cast<std::uint8_t>(first + 1);
    }
    if (csiz <= 2) h.colorModel = "Gray";
    else if (csiz <= 4) h.colorModel = "RGB";
    return h;
}

void readImageHeader(const FileBytes& file, const Box& box, Jp2Header& h) {
    // HEIGHT (4), WIDTH (4), NC (2), BPC (1), C (1), UnkC (1), IPR (1).
    std::vector<std::uint8_t> buf;
    if (box.contentLength < 14 || !file.read(box.contentOffset, 14, buf)) return;
    h.height = *readU32(buf, 0, true);
    h.width = *readU32(buf, 4, true);
    h.components = *readU16(buf, 8, true);
    // 255 means the components differ (a 'bpcc' box lists them); bit 7 marks signed samples.
    if (buf[10] != 0xFF) h.depth = static_cast<std::uint8_t>((buf[10] & 0x7F) + 1);
}

void readColour(const FileBytes& file, const Box& box, Jp2Header& h) {
    // METH (1), PREC (1), APPROX (1), then EnumCS (4) when METH is 1.
    std::vector<std::uint8_t> buf;
    if (box.contentLength < 7 || !file.read(box.contentOffset, 7, buf) || buf[0] != 1) return;
    switch (*readU32(buf, 3, true)) {
    case JP2_CS_SRGB:
    case JP2_CS_SYCC:
        h.colorModel = "RGB";
        break;
    case JP2_CS_GREY:
        h.colorModel = "Gray";
        break;
    case JP2_CS_CMYK:
        h.colorModel = "CMYK";
        break;
    case JP2_CS_CIELAB:
        h.colorModel = "Lab";
        break;
    default:
        break;
    }
}

void readChannelDefinition(const FileBytes& file, const Box& box, Jp2Header& h) {
    // N (2), then N times Cn (2), Typ (2), Asoc (2); Typ 1 and 2 are opacity.
    std::vector<std::uint8_t> buf;
    if (box.contentLength < 2 || box.contentLength > kMaxHeaderBoxBytes ||
        !file.read(box.contentOffset, static_cast<std::size_t>(box.contentLength), buf))
        return;
    const std::uint16_t n = *readU16(buf, 0, true);
    for (std::uint64_t i = 0; i < n && 2 + (i + 1) * 6 <= buf.size(); ++i) {
        const std::uint16_t type = *readU16(buf, 2 + i * 6 + 2, true);
        if (type == 1 || type == 2) h.hasAlpha = true;
    }
}

}  // namespace

bool isJp2(ByteSpan head) {
    return readU32(head, 0, true) == 12u && readU32(head, 4, true) == JP2_SIGNATURE_BOX &&
           readU32(head, 8, true) == 0x0D0A870Au;
}

bool isCodestream(ByteSpan head) {
    return readU16(head, 0, true) == J2K_SOC && readU16(head, 2, true) == J2K_SIZ;
}

std::optional<Jp2Header> readJp2Header(const FileBytes& file) {
    std::vector<std::uint8_t> head;
    if (!file.read(0, 12, head)) return std::nullopt;
    if (isCodestream(head)) return readSiz(file, 0);
    if (!isJp2(head)) return std::nullopt;

    std::optional<Jp2Header> fromCodestream;
    std::uint64_t pos = 0;
    for (int i = 0; i < kMaxTopLevelBoxes && pos < file.size(); ++i) {
        const auto box = readBox(file, pos, file.size());
        if (!box) break;
        if (box->type == JP2_HEADER_BOX) {
            Jp2Header h;
            bool sawImageHeader = false;
            std::uint64_t inner = box->contentOffset;
            const std::uint64_t end = box->contentOffset + box->contentLength;
            for (int j = 0; j < kMaxHeaderBoxes && inner < end; ++j) {
                const auto child = readBox(file, inner, end);
                if (!child) break;
                if (child->type == JP2_IMAGE_HEADER_BOX) {
                    readImageHeader(file, *child, h);
                    sawImageHeader = h.width != 0 && h.height != 0;
                } else if (child->type == JP2_COLOUR_BOX && !h.colorModel) {
                    readColour(file, *child, h);
                } else if (child->type == JP2_CHANNEL_DEF_BOX) {
                    readChannelDefinition(file, *child, h);
                }
                inner = child->contentOffset + child->contentLength;
            }
            if (sawImageHeader) return h;
        } else if (box->type == JP2_CODESTREAM_BOX && !fromCodestream) {
            fromCodestream = readSiz(file, box->contentOffset);
        }
        pos = box->contentOffset + box->contentLength;
    }
    return fromCodestream;
}

}  // namespace vesk::platform::image
