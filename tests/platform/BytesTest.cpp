// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "platform/Bytes.h"

using namespace vesk::platform;

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

// The fixed-width reader for `width`, or the run-time width one for the rest.
std::optional<std::uint64_t> readWidth(ByteSpan bytes, std::uint64_t offset, std::size_t width, bool bigEndian) {
    switch (width) {
    case 1: return readU8(bytes, offset);
    case 2: return readU16(bytes, offset, bigEndian);
    case 4: return readU32(bytes, offset, bigEndian);
    case 8: return readU64(bytes, offset, bigEndian);
    default: return readUnsigned(bytes, offset, width, bigEndian);
    }
}

}  // namespace

TEST(ByteToolkit, ReadsAnswerNothingUnlessTheWholeFieldIsThere) {
    const std::vector<std::uint8_t> bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
    struct Case {
        const char* what;
        std::uint64_t offset;
        std::size_t width;
        bool bigEndian;
        std::optional<std::uint64_t> expected;
    };
    const Case cases[] = {
        {"u8 first", 0, 1, true, 0x01},
        {"u8 last", 8, 1, false, 0x09},
        {"u16 big-endian", 1, 2, true, 0x0203},
        {"u16 little-endian", 1, 2, false, 0x0302},
        {"u32 big-endian", 0, 4, true, 0x01020304},
        {"u32 little-endian", 0, 4, false, 0x04030201},
        {"u32 ending on the last byte", 5, 4, true, 0x06070809},
        {"u64 big-endian", 1, 8, true, 0x0203040506070809},
        {"u64 little-endian", 0, 8, false, 0x0807060504030201},
        {"three bytes big-endian", 2, 3, true, 0x030405},
        {"three bytes little-endian", 2, 3, false, 0x050403},
        {"u8 at the end", 9, 1, true, std::nullopt},
        {"u32 over the end by one", 6, 4, true, std::nullopt},
        {"u32 at the end", 9, 4, false, std::nullopt},
        {"u64 over the end", 2, 8, true, std::nullopt},
        {"u16 far past the end", 1000, 2, true, std::nullopt},
        // offset + width wraps to a small number here: it must not pass for in range.
        {"u32 near UINT64_MAX", kMax - 1, 4, true, std::nullopt},
        {"u64 at UINT64_MAX", kMax, 8, false, std::nullopt},
        {"no width", 0, 0, true, std::nullopt},
        {"wider than eight bytes", 0, 9, true, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(readWidth(bytes, c.offset, c.width, c.bigEndian), c.expected);
        if (c.width <= 8) {
            EXPECT_EQ(readUnsigned(bytes, c.offset, c.width, c.bigEndian), c.expected);
        }
    }

    // Writing a field back gives the bytes it was read from.
    for (const Case& c : cases) {
        if ((c.width != 2 && c.width != 4) || !c.expected) continue;
        std::vector<std::uint8_t> copy(bytes.size());
        if (c.width == 2) writeU16(copy, c.offset, static_cast<std::uint16_t>(*c.expected), c.bigEndian);
        if (c.width == 4) writeU32(copy, c.offset, static_cast<std::uint32_t>(*c.expected), c.bigEndian);
        EXPECT_TRUE(std::equal(copy.begin() + c.offset, copy.begin() + c.offset + c.width, bytes.begin() + c.offset))
            << c.what;
    }

    // Ranges: subspan and a span source agree on what is there.
    struct Range {
        const char* what;
        std::uint64_t offset, length;
        bool there;
    };
    const Range ranges[] = {
        {"all of it", 0, 9, true},
        {"nothing at the end", 9, 0, true},
        {"one past the end", 9, 1, false},
        {"nothing past the end", 10, 0, false},
        {"a length near UINT64_MAX", 1, kMax, false},
        {"an offset near UINT64_MAX", kMax - 1, 2, false},
    };
    const SpanSource source(bytes);
    for (const Range& r : ranges) {
        SCOPED_TRACE(r.what);
        const auto span = subspan(bytes, r.offset, r.length);
        ASSERT_EQ(span.has_value(), r.there);
        if (span) {
            EXPECT_EQ(span->size(), r.length);
        }
        if (r.length <= bytes.size()) {
            std::vector<std::uint8_t> out(static_cast<std::size_t>(r.length));
            EXPECT_EQ(source.read(r.offset, out), r.there);
        }
    }
}
