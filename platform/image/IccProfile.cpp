// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/IccProfile.h"

#include <cstring>

#include "platform/Utf8.h"

namespace vesk::platform::image {
namespace {

constexpr std::uint64_t kHeaderSize = 128;
constexpr std::uint64_t kTagEntrySize = 12;
constexpr std::uint32_t kDescSignature = 0x64657363;  // 'desc'
constexpr std::uint32_t kMlucType = 0x6D6C7563;       // 'mluc'

std::optional<std::string> fromTextDescription(ByteSpan tag) {
    // 'desc', reserved (4), ASCII count (4) including its NUL, ASCII text.
    const auto count = readU32(tag, 8, true);
    if (!count) return std::nullopt;
    const auto text = subspan(tag, 12, *count);
    if (!text) return std::nullopt;
    const auto* begin = reinterpret_cast<const char*>(text->data());
    return utf8::sanitize(std::string_view(begin, ::strnlen(begin, text->size())));
}

std::optional<std::string> fromMultiLocalized(ByteSpan tag) {
    // 'mluc', reserved (4), record count (4), record size (4), then records of
    // language (2), country (2), length (4), offset (4); text is UTF-16BE.
    const auto records = readU32(tag, 8, true);
    if (!records || *records == 0) return std::nullopt;
    const auto length = readU32(tag, 20, true);
    const auto offset = readU32(tag, 24, true);
    if (!length || !offset) return std::nullopt;
    const auto text = subspan(tag, *offset, *length);
    if (!text) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i + 1 < text->size(); i += 2) {
        const std::uint16_t u = *readU16(*text, i, true);
        if (u == 0) break;
        // Profile names are Latin in practice; other characters keep their code points.
        if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else if (u < 0xD800 || u > 0xDFFF) {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += "\xEF\xBF\xBD";
        }
    }
    return out;
}

}  // namespace

std::optional<std::string> iccProfileDescription(ByteSpan profile) {
    const auto tagCount = readU32(profile, kHeaderSize, true);
    if (!tagCount) return std::nullopt;
    const std::uint64_t fitting = (profile.size() - kHeaderSize - 4) / kTagEntrySize;
    for (std::uint64_t i = 0; i < *tagCount && i < fitting; ++i) {
        const std::uint64_t entry = kHeaderSize + 4 + i * kTagEntrySize;
        if (*readU32(profile, entry, true) != kDescSignature) continue;
        const auto tag = subspan(profile, *readU32(profile, entry + 4, true), *readU32(profile, entry + 8, true));
        if (!tag) return std::nullopt;
        auto text = readU32(*tag, 0, true) == kMlucType ? fromMultiLocalized(*tag) : fromTextDescription(*tag);
        if (text && text->empty()) return std::nullopt;
        return text;
    }
    return std::nullopt;
}

}  // namespace vesk::platform::image
