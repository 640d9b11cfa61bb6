// SPDX-License-Identifier: GPL-3.0-or-later
// The JPEG segments Vesk reads itself: the JFIF APP0 segment and the frame
// header (SOFn) that gives the pixel size, depth, components and coding; and
// where the other segments and the first scan are.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Bytes.h"

namespace vesk::platform::image {

inline constexpr std::uint8_t JPEG_SOI = 0xD8;
inline constexpr std::uint8_t JPEG_EOI = 0xD9;
inline constexpr std::uint8_t JPEG_SOS = 0xDA;
inline constexpr std::uint8_t JPEG_APP0 = 0xE0;
inline constexpr std::uint8_t JPEG_APP1 = 0xE1;
inline constexpr std::uint8_t JPEG_APP2 = 0xE2;
inline constexpr std::uint8_t JPEG_APP13 = 0xED;
inline constexpr std::uint8_t JPEG_COM = 0xFE;
inline constexpr std::uint8_t JPEG_TEM = 0x01;
inline constexpr std::uint8_t JPEG_RST0 = 0xD0;
inline constexpr std::uint8_t JPEG_RST7 = 0xD7;
inline constexpr std::uint8_t JPEG_SOF0 = 0xC0;
inline constexpr std::uint8_t JPEG_SOF15 = 0xCF;
inline constexpr std::uint8_t JPEG_DHT = 0xC4;
inline constexpr std::uint8_t JPEG_JPG = 0xC8;
inline constexpr std::uint8_t JPEG_DAC = 0xCC;

struct JfifSegment {
    std::uint8_t versionMajor = 1, versionMinor = 0;
    std::uint8_t densityUnit = 0;  // 0 aspect ratio only, 1 per inch, 2 per centimetre
    std::uint16_t xDensity = 0, yDensity = 0;
};

struct JpegFrame {
    std::uint8_t marker = 0;     // SOF0..SOF15
    std::uint8_t precision = 0;  // bits per sample
    std::uint16_t height = 0, width = 0;
    std::uint8_t components = 0;
    // SOF2, SOF6, SOF10 and SOF14 are the progressive codings.
    bool progressive() const { return marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE; }
};

struct JpegSegment {
    std::uint8_t marker = 0;
    std::uint64_t offset = 0;  // of the payload, just after the length field
    std::uint16_t length = 0;  // of the payload
};

// Real files have a few dozen segments before the first scan; a stream of
// tiny bogus segments must not keep the reader busy.
inline constexpr int kMaxJpegSegments = 4096;

struct JpegHeader {
    std::optional<JfifSegment> jfif;
    std::optional<JpegFrame> frame;
    // Offset just past the first SOS marker: every metadata segment lies
    // before it. 0 when the walk ended some other way.
    std::uint64_t scanStart = 0;
    // The segments before the first scan, in file order, each whole in the file.
    std::vector<JpegSegment> segments;
    // The walk stopped after kMaxJpegSegments segments, before any scan.
    bool segmentLimitReached = false;
};

// True when the bytes start like a JPEG stream (SOI, then a marker).
bool isJpeg(ByteSpan head);

// Walks the marker segments from SOI to the first scan, reading only their
// headers. A truncated or corrupt stream yields what was found before the fault.
JpegHeader readJpegHeader(const FileBytes& file);

}  // namespace vesk::platform::image
