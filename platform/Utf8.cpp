// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Utf8.h"

#include <cstdint>
#include <cstring>

namespace vesk::platform::utf8 {
namespace {

// Length of the valid sequence starting at `i`, or 0 when the bytes there are not one.
std::size_t sequenceAt(std::string_view s, std::size_t i, std::uint32_t* codePoint) {
    const auto b = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    const std::uint8_t lead = b(i);
    std::size_t len;
    std::uint32_t cp;
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
        cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
        cp = lead & 0x07;
    } else {
        return 0;
    }
    if (s.size() - i < len) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000)) return 0;  // overlong
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;                            // surrogate
    if (cp > 0x10FFFF) return 0;
    *codePoint = cp;
    return len;
}

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

}  // namespace

bool isValid(std::string_view bytes) {
    std::uint32_t cp;
    for (std::size_t i = 0; i < bytes.size();) {
        // Reports are nearly all ASCII: eight bytes at a time while they are.
        std::uint64_t word;
        if (bytes.size() - i >= sizeof word) {
            std::memcpy(&word, bytes.data() + i, sizeof word);
            if ((word & kHighBits) == 0) {
                i += sizeof word;
                continue;
            }
        }
        const std::size_t n = sequenceAt(bytes, i, &cp);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string sanitize(std::string_view bytes) {
    if (isValid(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 8);
    std::uint32_t cp;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = sequenceAt(bytes, i, &cp);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

void append(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

namespace {

std::string escape(std::string_view bytes, bool keepLines) {
    static constexpr char kHex[] = "0123456789abcdef";
    const auto hexByte = [](std::string& out, std::uint8_t b) {
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 0xF];
    };
    std::string out;
    out.reserve(bytes.size());
    std::uint32_t cp;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = sequenceAt(bytes, i, &cp);
        if (n == 0) {
            hexByte(out, static_cast<std::uint8_t>(bytes[i]));
            ++i;
            continue;
        }
        if (cp == '\x1B') {
            out += "\\e";
        } else if (!keepLines && (cp == '\n' || cp == '\t')) {
            out += cp == '\n' ? "\\n" : "\\t";
        } else if ((cp < 0x20 && !(keepLines && (cp == '\n' || cp == '\t'))) || cp == 0x7F) {
            hexByte(out, static_cast<std::uint8_t>(cp));
        } else if (cp >= 0x80 && cp <= 0x9F) {
            out += "\\u00";
            out += kHex[cp >> 4];
            out += kHex[cp & 0xF];
        } else {
            out.append(bytes.substr(i, n));
        }
        i += n;
    }
    return out;
}

}  // namespace

std::string escapeControls(std::string_view bytes) { return escape(bytes, true); }

std::string escapeLine(std::string_view bytes) { return escape(bytes, false); }

std::size_t utf16Length(std::string_view bytes) {
    std::size_t units = 0;
    std::uint32_t cp;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = sequenceAt(bytes, i, &cp);
        if (n == 0) {
            ++units;
            ++i;
        } else {
            units += cp >= 0x10000 ? 2 : 1;
            i += n;
        }
    }
    return units;
}

}  // namespace vesk::platform::utf8
