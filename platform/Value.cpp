// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Value.h"

#include <algorithm>
#include <array>
#include <bit>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/Utf8.h"

namespace vesk::platform {
namespace {

void appendReal(std::string& out, double d) {
    if (std::isnan(d)) {
        out += "nan";
    } else if (std::isinf(d)) {
        out += d < 0 ? "-inf" : "inf";
    } else {
        // The shortest text that reads back to the same value, fixed or
        // scientific, whichever is shorter: 10 stays "10", not "1e+01".
        char buf[64];
        out.append(buf, std::to_chars(buf, buf + sizeof buf, d).ptr);
    }
}

std::string shortestReal(double d) {
    std::string out;
    appendReal(out, d);
    return out;
}

// Which bytes may stand in a bare word: 1 for the digits and '.', which
// alone would read as a number, 2 for the others.
constexpr auto kBareBytes = [] {
    std::array<std::uint8_t, 256> t{};
    for (int c = 'a'; c <= 'z'; ++c) t[c] = 2;
    for (int c = 'A'; c <= 'Z'; ++c) t[c] = 2;
    for (int c = '0'; c <= '9'; ++c) t[c] = 1;
    t['.'] = 1;
    t['_'] = t['/'] = 2;
    return t;
}();

bool isBare(const std::string& s) {
    if (s.empty()) return false;
    // Bare when every byte may stand so and the whole does not look like a
    // number (digits and dots only, at least one digit).
    bool numberLike = true, digit = false;
    for (unsigned char c : s) {
        const std::uint8_t kind = kBareBytes[c];
        if (kind == 0) return false;
        if (kind == 2) numberLike = false;
        digit = digit || (c >= '0' && c <= '9');
    }
    return !(numberLike && digit);
}

// Appends the text bare when it may stand so, else in quotes.
void appendQuoted(std::string& out, const std::string& s) {
    if (isBare(s)) {
        out += s;
        return;
    }
    out += '"';
    std::size_t run = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        // A C1 control is U+0080 to U+009F: 0xC2 then 0x80 to 0x9F in UTF-8.
        const bool c1 = c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) <= 0x9F &&
                        static_cast<unsigned char>(s[i + 1]) >= 0x80;
        if (c >= 0x20 && c != '"' && c != '\\' && c != 0x7F && !c1) continue;
        out.append(s, run, i - run);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            // Every other control as the platform's description shows it: a
            // raw one would reach fields, logs and the store file, and XML 1.0
            // cannot hold most of them at all.
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\U%04x", c1 ? static_cast<unsigned char>(s[++i]) : c);
            out += buf;
        }
        run = i + 1;
    }
    out.append(s, run, std::string::npos);
    out += '"';
}

std::string formatDate(const Date& d, bool iso) {
    std::time_t t = static_cast<std::time_t>(std::floor(d.secondsSince1970));
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[48];
    std::strftime(buf, sizeof buf, iso ? "%Y-%m-%dT%H:%M:%SZ" : "%Y-%m-%d %H:%M:%S +0000", &tm);
    return buf;
}

std::string fileUrl(const Url& url) {
    static const char* hex = "0123456789ABCDEF";
    std::string out = "file://";
    for (unsigned char c : url.path) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

void indent(std::string& out, int level) { out.append(static_cast<std::size_t>(level) * 4, ' '); }

// What one text may grow to. Once it is reached the rendering stops at the next
// entry, says so there, and closes the containers it is in, so the text (and
// JSON) keeps its shape.
struct RenderBudget {
    std::size_t limit = kMaxRenderedBytes;
    bool cut = false;
    // When set, gets where each indentation starts (see describeNested).
    std::vector<std::size_t>* indents = nullptr;
    bool spent(const std::string& out) const { return cut || out.size() >= limit; }
};

// Indentation is the only thing a container's level changes in its text.
void indent(std::string& out, int level, RenderBudget& budget) {
    if (budget.indents) budget.indents->push_back(out.size());
    indent(out, level);
}

constexpr const char* kCutMark = "<... cut at 1 MB>";

// The longest prefix of `s` of at most `n` bytes that ends on a character boundary.
std::string utf8Prefix(const std::string& s, std::size_t n) {
    if (n >= s.size()) return s;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    return s.substr(0, n);
}

void render(std::string& out, const Value& v, int level, RenderBudget& budget);

// `nested`, when given, gets where the text of each dictionary value starts and ends.
void renderDictionary(std::string& out, const Dictionary& x, int level, RenderBudget& budget,
                      std::vector<NestedText>* nested = nullptr) {
    out += "{\n";
    for (const auto& [key, value] : x) {
        indent(out, level + 1, budget);
        if (budget.spent(out)) {
            if (!budget.cut) out += kCutMark, out += '\n';
            budget.cut = true;
            break;
        }
        appendQuoted(out, key);
        out += " = ";
        if (value.is<Array>() || value.is<Dictionary>()) {
            indent(out, level + 1, budget);
            const auto* d = nested ? value.get<Dictionary>() : nullptr;
            if (!d) {
                render(out, value, level + 1, budget);
            } else {
                NestedText text{d, out.size(), 0, {}};
                budget.indents = &text.indents;
                render(out, value, level + 1, budget);
                budget.indents = nullptr;
                text.size = out.size() - text.offset;
                nested->push_back(std::move(text));
            }
        } else {
            render(out, value, level, budget);
        }
        out += ";\n";
    }
    indent(out, level, budget);
    out += '}';
}

// `level` is the nesting depth of `v`; a container's entries sit one level deeper
// and its closing bracket at its own level, as the platform's description does.
void render(std::string& out, const Value& v, int level, RenderBudget& budget) {
    std::visit(
        [&](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::string>) {
                const std::size_t room = budget.limit > out.size() ? budget.limit - out.size() : 0;
                if (x.size() > room) {
                    appendQuoted(out, utf8Prefix(x, room) + kCutMark);
                    budget.cut = true;
                } else {
                    appendQuoted(out, x);
                }
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                char buf[24];
                out.append(buf, std::to_chars(buf, buf + sizeof buf, x).ptr);
            } else if constexpr (std::is_same_v<T, double>) {
                appendReal(out, x);
            } else if constexpr (std::is_same_v<T, bool>) {
                out += x ? "1" : "0";
            } else if constexpr (std::is_same_v<T, Date>) {
                appendQuoted(out, formatDate(x, false));
            } else if constexpr (std::is_same_v<T, Url>) {
                out += fileUrl(x);
            } else if constexpr (std::is_same_v<T, Data>) {
                static const char* hex = "0123456789abcdef";
                // Nine characters for every four bytes.
                const std::size_t room = budget.limit > out.size() ? budget.limit - out.size() : 0;
                const std::size_t shown = std::min(x.size(), room / 9 * 4);
                out += '<';
                for (std::size_t i = 0; i < shown; ++i) {
                    if (i && i % 4 == 0) out += ' ';
                    out += hex[x[i] >> 4];
                    out += hex[x[i] & 15];
                }
                out += '>';
                if (shown < x.size()) {
                    out += kCutMark;
                    budget.cut = true;
                }
            } else if constexpr (std::is_same_v<T, Array>) {
                out += "(\n";
                for (std::size_t i = 0; i < x.size(); ++i) {
                    indent(out, level + 1, budget);
                    if (budget.spent(out)) {
                        if (!budget.cut) out += kCutMark, out += '\n';
                        budget.cut = true;
                        break;
                    }
                    const bool nested = x[i].template is<Array>() || x[i].template is<Dictionary>();
                    // A nested container opens one indent further, as after "key = ".
                    if (nested) indent(out, level + 1, budget);
                    render(out, x[i], nested ? level + 1 : level, budget);
                    if (i + 1 < x.size()) out += ',';
                    out += '\n';
                }
                indent(out, level, budget);
                out += ')';
            } else if constexpr (std::is_same_v<T, Dictionary>) {
                renderDictionary(out, x, level, budget);
            }
        },
        v.storage());
}

std::string base64(const Data& d) {
    static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((d.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < d.size(); i += 3) {
        unsigned n = (d[i] << 16) | (d[i + 1] << 8) | d[i + 2];
        out += table[n >> 18];
        out += table[(n >> 12) & 63];
        out += table[(n >> 6) & 63];
        out += table[n & 63];
    }
    if (i + 1 == d.size()) {
        unsigned n = d[i] << 16;
        out += table[n >> 18];
        out += table[(n >> 12) & 63];
        out += "==";
    } else if (i + 2 == d.size()) {
        unsigned n = (d[i] << 16) | (d[i + 1] << 8);
        out += table[n >> 18];
        out += table[(n >> 12) & 63];
        out += table[(n >> 6) & 63];
        out += '=';
    }
    return out;
}

void json(std::string& out, const Value& v, RenderBudget& budget) {
    std::visit(
        [&](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::string>) {
                const std::size_t room = budget.limit > out.size() ? budget.limit - out.size() : 0;
                if (x.size() > room) {
                    out += jsonString(utf8Prefix(x, room) + kCutMark);
                    budget.cut = true;
                } else {
                    out += jsonString(x);
                }
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                out += std::to_string(x);
            } else if constexpr (std::is_same_v<T, double>) {
                out += std::isfinite(x) ? shortestReal(x) : "null";
            } else if constexpr (std::is_same_v<T, bool>) {
                out += x ? "true" : "false";
            } else if constexpr (std::is_same_v<T, Date>) {
                out += jsonString(formatDate(x, true));
            } else if constexpr (std::is_same_v<T, Url>) {
                out += jsonString(fileUrl(x));
            } else if constexpr (std::is_same_v<T, Data>) {
                // Four characters for every three bytes.
                const std::size_t room = budget.limit > out.size() ? budget.limit - out.size() : 0;
                if (x.size() / 3 * 4 > room) {
                    out += jsonString(kCutMark);
                    budget.cut = true;
                } else {
                    out += '"' + base64(x) + '"';
                }
            } else if constexpr (std::is_same_v<T, Array>) {
                out += '[';
                for (std::size_t i = 0; i < x.size(); ++i) {
                    if (i) out += ", ";
                    if (budget.spent(out)) {
                        if (!budget.cut) out += jsonString(kCutMark);
                        else if (i) out.resize(out.size() - 2);
                        budget.cut = true;
                        break;
                    }
                    json(out, x[i], budget);
                }
                out += ']';
            } else if constexpr (std::is_same_v<T, Dictionary>) {
                out += '{';
                bool first = true;
                for (const auto& [key, value] : x) {
                    if (!first) out += ", ";
                    if (budget.spent(out)) {
                        if (!budget.cut) out += jsonString(kCutMark) + ": null";
                        else if (!first) out.resize(out.size() - 2);
                        budget.cut = true;
                        break;
                    }
                    first = false;
                    out += jsonString(key);
                    out += ": ";
                    json(out, value, budget);
                }
                out += '}';
            }
        },
        v.storage());
}

}  // namespace

std::string describe(const Value& value) {
    bool cut = false;
    return describe(value, cut);
}

std::string describe(const Value& value, bool& cut) { return describe(value, cut, kMaxRenderedBytes); }

std::string describe(const Value& value, bool& cut, std::size_t limit) {
    std::string out;
    RenderBudget budget{std::min(limit, kMaxRenderedBytes)};
    render(out, value, 0, budget);
    cut = budget.cut;
    return out;
}

std::string describe(const Dictionary& dictionary, bool& cut, std::size_t limit) {
    std::string out;
    RenderBudget budget{std::min(limit, kMaxRenderedBytes)};
    renderDictionary(out, dictionary, 0, budget);
    cut = budget.cut;
    return out;
}

std::string describe(const Value& value, bool& cut, std::size_t limit, std::vector<NestedText>& nested) {
    const auto* dictionary = value.get<Dictionary>();
    if (!dictionary) return describe(value, cut, limit);
    std::string out;
    RenderBudget budget{std::min(limit, kMaxRenderedBytes)};
    renderDictionary(out, *dictionary, 0, budget, &nested);
    cut = budget.cut;
    return out;
}

std::optional<std::string> describeNested(std::string_view text, const NestedText& nested, std::size_t limit) {
    // Uncut, a text is the same whatever its limit: only one that ends this
    // far below the limit is sure to be uncut on its own (a string needs
    // room for itself, data room for whole groups of four bytes).
    constexpr std::size_t kMargin = 64;
    if (nested.offset > text.size() || nested.size > text.size() - nested.offset) return std::nullopt;
    // One level in, each indentation is four blanks wider, and that is all.
    std::string out;
    out.reserve(nested.size);
    std::size_t run = nested.offset;
    for (const std::size_t at : nested.indents) {
        if (at < run || at + 4 > nested.offset + nested.size || text.compare(at, 4, "    ") != 0) return std::nullopt;
        out.append(text, run, at - run);
        run = at + 4;
    }
    out.append(text, run, nested.offset + nested.size - run);
    if (out.size() + kMargin > std::min(limit, kMaxRenderedBytes)) return std::nullopt;
    return out;
}

std::size_t describedSize(const Value& value) {
    // One buffer per thread, kept: measuring makes no text of its own.
    thread_local std::string scratch;
    scratch.clear();
    RenderBudget budget;
    render(scratch, value, 0, budget);
    return scratch.size();
}

std::string describe(const std::optional<Value>& value) {
    return value ? describe(*value) : std::string("(null)");
}

std::string describe(const Value* value) { return value ? describe(*value) : std::string("(null)"); }

std::string toJson(const Value* value) {
    if (!value) return "null";
    std::string out;
    RenderBudget budget;
    json(out, *value, budget);
    return out;
}

std::string jsonString(const std::string& text) {
    std::string out;
    appendJsonString(out, text);
    return out;
}

void appendJsonString(std::string& out, const std::string& text) {
    // Texts are nearly always valid UTF-8: copied only when they are not.
    std::string repaired;
    if (!utf8::isValid(text)) repaired = utf8::sanitize(text);
    const std::string& valid = repaired.empty() ? text : repaired;
    // Grown as appends grow it: an exact reserve would copy a long text
    // again for every literal appended to it.
    if (const std::size_t need = out.size() + valid.size() + 2; need > out.capacity())
        out.reserve(std::max(need, 2 * out.capacity()));
    out += '"';
    std::size_t run = 0;  // start of the bytes that need no escape
    const auto escape = [&](unsigned char c) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        }
        }
    };
    for (std::size_t i = 0; i < valid.size();) {
        // Eight bytes at a time: the lowest byte the masks flag is always a
        // control, a quote or a backslash (a borrow only runs upwards from
        // one), so the bytes before it are copied as they are.
        constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
        std::uint64_t w;
        if (valid.size() - i >= sizeof w) {
            std::memcpy(&w, valid.data() + i, sizeof w);
            const auto zeroByte = [&](std::uint64_t x) { return (x - kOnes) & ~x & kHigh; };
            const std::uint64_t control = (w - 0x20 * kOnes) & ~w & kHigh;  // a byte below 0x20
            const std::uint64_t flagged = control | zeroByte(w ^ ('"' * kOnes)) | zeroByte(w ^ ('\\' * kOnes));
            if (flagged == 0) {
                i += sizeof w;
                continue;
            }
            if constexpr (std::endian::native == std::endian::little) {
                i += static_cast<std::size_t>(std::countr_zero(flagged)) / 8;
            }
        }
        const auto c = static_cast<unsigned char>(valid[i++]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(valid, run, i - 1 - run);
        run = i;
        escape(c);
    }
    out.append(valid, run, std::string::npos);
    out += '"';
}

}  // namespace vesk::platform
