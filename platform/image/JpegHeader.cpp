// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/JpegHeader.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vesk::platform::image {
namespace {

// Fill bytes (0xFF) may precede any marker.
constexpr int kMaxFill = 64 * 1024;

std::optional<JfifSegment> parseJfif(ByteSpan payload) {
    // "JFIF\0", version (2), units (1), Xdensity (2), Ydensity (2), thumbnail size (2).
    if (payload.size() < 12 || std::memcmp(payload.data(), "JFIF\0", 5) != 0) return std::nullopt;
    JfifSegment j;
    j.versionMajor = payload[5];
    j.versionMinor = payload[6];
    j.densityUnit = payload[7];
    j.xDensity = *readU16(payload, 8, true);
    j.yDensity = *readU16(payload, 10, true);
    return j;
}

std::optional<JpegFrame> parseFrame(std::uint8_t marker, ByteSpan payload) {
    // P (1), Y (2), X (2), Nf (1), then Nf component specs we do not need.
    if (payload.size() < 6) return std::nullopt;
    JpegFrame f;
    f.marker = marker;
    f.precision = payload[0];
    f.height = *readU16(payload, 1, true);
    f.width = *readU16(payload, 3, true);
    f.components = payload[5];
    return f;
}

bool isFrameMarker(std::uint8_t m) {
    return m >= JPEG_SOF0 && m <= JPEG_SOF15 && m != JPEG_DHT && m != JPEG_JPG && m != JPEG_DAC;
}

}  // namespace

bool isJpeg(ByteSpan head) { return head.size() >= 3 && head[0] == 0xFF && head[1] == JPEG_SOI && head[2] == 0xFF; }

JpegHeader readJpegHeader(const FileBytes& file) {
    JpegHeader out;
    std::vector<std::uint8_t> buf;
    if (!file.read(0, 2, buf) || buf[0] != 0xFF || buf[1] != JPEG_SOI) return out;
    std::uint64_t pos = 2;
    for (int segment = 0; segment < kMaxJpegSegments; ++segment) {
        // A marker: 0xFF, any number of fill 0xFF, then the code.
        if (!file.read(pos, 2, buf) || buf[0] != 0xFF) return out;
        int fill = 0;
        while (buf[1] == 0xFF) {
            if (++fill > kMaxFill || !file.read(++pos, 2, buf)) return out;
        }
        const std::uint8_t marker = buf[1];
        pos += 2;
        if (marker == JPEG_SOI || marker == JPEG_TEM || (marker >= JPEG_RST0 && marker <= JPEG_RST7)) continue;
        if (marker == JPEG_SOS) out.scanStart = pos;
        if (marker == JPEG_SOS || marker == JPEG_EOI) return out;
        if (!file.read(pos, 2, buf)) return out;
        const std::uint16_t length = *readU16(buf, 0, true);
        if (length < 2) return out;
        // Only the fixed fields at the start of a segment are needed.
        const std::size_t wanted = std::min<std::size_t>(length - 2u, 16);
        if (marker == JPEG_APP0 && !out.jfif) {
            if (file.read(pos + 2, wanted, buf)) out.jfif = parseJfif(buf);
        } else if (isFrameMarker(marker) && !out.frame) {
            if (file.read(pos + 2, wanted, buf)) out.frame = parseFrame(marker, buf);
        }
        if (length - 2u > file.size() - std::min(file.size(), pos + 2)) return out;  // runs past the end
        out.segments.push_back({marker, pos + 2, static_cast<std::uint16_t>(length - 2u)});
        pos += length;
    }
    out.segmentLimitReached = true;
    return out;
}

}  // namespace vesk::platform::image
