// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/TiffValue.h"

#include <bit>
#include <cstring>

#include "platform/Utf8.h"

namespace vesk::platform::image {
namespace {

double ratio(double num, double den) { return den == 0 ? 0.0 : num / den; }

// One component at index i, as the value rules want it (integer or real).
Value component(std::uint16_t type, ByteSpan bytes, std::size_t i, bool be) {
    const std::uint64_t at = static_cast<std::uint64_t>(i) * tiffTypeSize(type);
    switch (type) {
    case TIFF_BYTE:
    case TIFF_UNDEFINED:
        return Value(static_cast<std::int64_t>(*readU8(bytes, at)));
    case TIFF_SBYTE:
        return Value(static_cast<std::int64_t>(static_cast<std::int8_t>(*readU8(bytes, at))));
    case TIFF_SHORT:
        return Value(static_cast<std::int64_t>(*readU16(bytes, at, be)));
    case TIFF_SSHORT:
        return Value(static_cast<std::int64_t>(static_cast<std::int16_t>(*readU16(bytes, at, be))));
    case TIFF_LONG:
    case TIFF_IFD:
        return Value(static_cast<std::int64_t>(*readU32(bytes, at, be)));
    case TIFF_SLONG:
        return Value(static_cast<std::int64_t>(static_cast<std::int32_t>(*readU32(bytes, at, be))));
    case TIFF_LONG8:
    case TIFF_IFD8:
    case TIFF_SLONG8:
        // Property-list integers are signed 64-bit; a huge unsigned value wraps as it does there.
        return Value(static_cast<std::int64_t>(*readU64(bytes, at, be)));
    case TIFF_RATIONAL:
        return Value(ratio(*readU32(bytes, at, be), *readU32(bytes, at + 4, be)));
    case TIFF_SRATIONAL:
        return Value(ratio(static_cast<std::int32_t>(*readU32(bytes, at, be)),
                           static_cast<std::int32_t>(*readU32(bytes, at + 4, be))));
    case TIFF_FLOAT:
        return Value(static_cast<double>(std::bit_cast<float>(*readU32(bytes, at, be))));
    case TIFF_DOUBLE:
        return Value(std::bit_cast<double>(*readU64(bytes, at, be)));
    default:
        return Value(std::int64_t{0});
    }
}

bool isVersionTag(std::string_view name) {
    return name == "ExifVersion" || name == "FlashpixVersion" || name == "InteroperabilityVersion" ||
           name == "MakerNoteVersion";
}

}  // namespace

unsigned tiffTypeSize(std::uint16_t type) {
    switch (type) {
    case TIFF_BYTE:
    case TIFF_ASCII:
    case TIFF_SBYTE:
    case TIFF_UNDEFINED:
        return 1;
    case TIFF_SHORT:
    case TIFF_SSHORT:
        return 2;
    case TIFF_LONG:
    case TIFF_SLONG:
    case TIFF_FLOAT:
    case TIFF_IFD:
        return 4;
    case TIFF_RATIONAL:
    case TIFF_SRATIONAL:
    case TIFF_DOUBLE:
    case TIFF_LONG8:
    case TIFF_SLONG8:
    case TIFF_IFD8:
        return 8;
    default:
        return 0;
    }
}

std::string asciiText(ByteSpan bytes) {
    const auto* begin = reinterpret_cast<const char*>(bytes.data());
    const std::size_t length = ::strnlen(begin, bytes.size());
    return utf8::sanitize(std::string_view(begin, length));
}

std::optional<Value> versionValue(ByteSpan bytes) {
    if (bytes.size() != 4) return std::nullopt;
    for (auto b : bytes)
        if (b < '0' || b > '9') return std::nullopt;
    Array parts{Value((bytes[0] - '0') * 10 + (bytes[1] - '0')), Value(bytes[2] - '0')};
    if (bytes[3] != '0') parts.emplace_back(bytes[3] - '0');
    return Value(std::move(parts));
}

std::optional<Value> tiffValue(std::uint16_t type, ByteSpan bytes, bool bigEndian, std::string_view tagName) {
    if (type == TIFF_ASCII) {
        std::string text = asciiText(bytes);
        if (text.empty()) return std::nullopt;
        return Value(std::move(text));
    }
    const unsigned size = tiffTypeSize(type);
    if (size == 0 || bytes.empty()) return std::nullopt;
    if (type == TIFF_UNDEFINED) {
        if (isVersionTag(tagName)) {
            if (auto v = versionValue(bytes)) return v;
        }
        if (tagName == "ComponentsConfiguration" && bytes.size() <= kMaxUndefinedBytes) {
            Array parts;
            for (auto b : bytes) parts.emplace_back(static_cast<std::int64_t>(b));
            return Value(std::move(parts));
        }
        if (bytes.size() > kMaxUndefinedBytes) return std::nullopt;
        return Value(Data(bytes.begin(), bytes.end()));
    }
    const std::uint64_t count = bytes.size() / size;
    if (count == 0 || count > kMaxListLength) return std::nullopt;
    if (count == 1) return component(type, bytes, 0, bigEndian);
    Array list;
    list.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t i = 0; i < count; ++i) list.push_back(component(type, bytes, static_cast<std::size_t>(i), bigEndian));
    return Value(std::move(list));
}

}  // namespace vesk::platform::image
