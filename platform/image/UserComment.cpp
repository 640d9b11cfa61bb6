// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/UserComment.h"

#include <iconv.h>

#include <algorithm>
#include <cstring>

#include "platform/Utf8.h"

namespace vesk::platform::image {
namespace {

// Cameras pad the code with blanks where the standard says NULs.
bool codeIs(ByteSpan id, std::string_view word) {
    if (std::memcmp(id.data(), word.data(), word.size()) != 0) return false;
    return std::all_of(id.begin() + static_cast<std::ptrdiff_t>(word.size()), id.end(),
                       [](std::uint8_t b) { return b == 0 || b == ' '; });
}

bool undefinedCode(ByteSpan id) {
    return id[0] == 0 || std::all_of(id.begin(), id.end(), [](std::uint8_t b) { return b == 0 || b == ' '; });
}

void trimTail(std::string& text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
}

std::string textUpToNul(ByteSpan bytes) {
    const auto* begin = reinterpret_cast<const char*>(bytes.data());
    return utf8::sanitize(std::string_view(begin, ::strnlen(begin, bytes.size())));
}

// UTF-16 up to the first U+0000; unpaired surrogates become U+FFFD.
std::string fromUtf16(ByteSpan bytes, bool bigEndian) {
    std::string out;
    const std::size_t units = bytes.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t u = *readU16(bytes, i * 2, bigEndian);
        if (u == 0) break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const char16_t low = *readU16(bytes, (i + 1) * 2, bigEndian);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                utf8::append(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        utf8::append(out, (u >= 0xD800 && u <= 0xDFFF) ? U'\uFFFD' : static_cast<char32_t>(u));
    }
    return out;
}

// Some writers put UTF-8 behind the UNICODE code. UTF-16 of Latin text always
// has zero bytes; UTF-16 of other scripts rarely forms valid UTF-8 with a blank
// or a multi-byte sequence in it.
bool looksLikeUtf8(ByteSpan bytes) {
    if (bytes.empty() || std::find(bytes.begin(), bytes.end(), 0) != bytes.end()) return false;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!utf8::isValid(text)) return false;
    return bytes.size() % 2 == 1 || std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) {
               return b >= 0x80 || b == ' ' || b == '\n';
           });
}

std::string decodeUnicode(ByteSpan payload, bool tiffBigEndian) {
    // Padding NULs at the end say nothing about the byte order.
    std::size_t end = payload.size() & ~std::size_t{1};
    while (end >= 2 && payload[end - 1] == 0 && payload[end - 2] == 0) end -= 2;
    ByteSpan text = payload.first(end);
    if (text.size() >= 2 && text[0] == 0xFE && text[1] == 0xFF) return fromUtf16(text.subspan(2), true);
    if (text.size() >= 2 && text[0] == 0xFF && text[1] == 0xFE) return fromUtf16(text.subspan(2), false);
    // UTF-8 text with NUL padding: zeros only at the end, after at least two
    // bytes (one UTF-16LE character would look the same).
    const auto firstZero = std::find(payload.begin(), payload.end(), 0);
    const ByteSpan head = payload.first(static_cast<std::size_t>(firstZero - payload.begin()));
    if (head.size() >= 2 && std::all_of(firstZero, payload.end(), [](std::uint8_t b) { return b == 0; }) &&
        looksLikeUtf8(head))
        return utf8::sanitize(std::string_view(reinterpret_cast<const char*>(head.data()), head.size()));
    // The TIFF byte order is only a guess: some writers use their own machine's
    // order whatever the header says. Latin text shows its order in where the zeros fall.
    std::size_t zeroHigh = 0, zeroLow = 0;  // zero in the first / second byte of a unit
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        if (text[i] == 0) ++zeroHigh;
        if (text[i + 1] == 0) ++zeroLow;
    }
    bool bigEndian = tiffBigEndian;
    if (zeroHigh > 0 && zeroLow == 0) bigEndian = true;
    if (zeroLow > 0 && zeroHigh == 0) bigEndian = false;
    return fromUtf16(text, bigEndian);
}

std::optional<std::string> iconvToUtf8(const char* from, std::string_view in) {
    iconv_t cd = ::iconv_open("UTF-8", from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    const std::size_t rc = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    ::iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1)) return std::nullopt;
    out.resize(out.size() - dstLeft);
    return out;
}

// JIS X 0208 two-byte codes; with escape sequences it is ISO-2022-JP.
std::string decodeJis(ByteSpan payload) {
    std::string raw(reinterpret_cast<const char*>(payload.data()), ::strnlen(reinterpret_cast<const char*>(payload.data()), payload.size()));
    if (raw.find('\x1b') != std::string::npos) {
        if (auto text = iconvToUtf8("ISO-2022-JP", raw)) return *text;
    } else if (raw.size() % 2 == 0 && std::all_of(raw.begin(), raw.end(), [](char c) { return c >= 0x21 && c <= 0x7E; })) {
        std::string euc = raw;
        for (char& c : euc) c = static_cast<char>(static_cast<unsigned char>(c) | 0x80);
        if (auto text = iconvToUtf8("EUC-JP", euc)) return *text;
    }
    return utf8::sanitize(raw);
}

}  // namespace

std::string decodeUserComment(ByteSpan raw, bool tiffBigEndian) {
    std::string text;
    if (raw.size() < 8) {
        text = textUpToNul(raw);
    } else {
        const ByteSpan id = raw.first(8);
        const ByteSpan payload = raw.subspan(8);
        if (codeIs(id, "ASCII") || undefinedCode(id))
            text = textUpToNul(payload);
        else if (codeIs(id, "UNICODE"))
            text = decodeUnicode(payload, tiffBigEndian);
        else if (codeIs(id, "JIS"))
            text = decodeJis(payload);
        else
            text = textUpToNul(raw);  // no code at all: the text starts at once
    }
    trimTail(text);
    return text;
}

}  // namespace vesk::platform::image
