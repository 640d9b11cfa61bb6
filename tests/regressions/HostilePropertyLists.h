// SPDX-License-Identifier: GPL-3.0-or-later
// Property lists made to cost a reader more than it may spend. Most are too
// large to keep as files, so the tests and the benchmark make them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vesk::test::hostile {

inline std::string bigEndian32(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// A marker with its count: in the low nibble, or as an integer object after it.
inline std::string counted(unsigned kind, std::uint32_t count) {
    if (count < 15) return std::string(1, static_cast<char>(kind << 4 | count));
    return std::string(1, static_cast<char>(kind << 4 | 0x0F)) + '\x12' + bigEndian32(count);
}

inline std::string arrayOf(const std::vector<std::uint32_t>& references) {
    std::string out = counted(0xA, static_cast<std::uint32_t>(references.size()));
    for (auto r : references) out += bigEndian32(r);
    return out;
}

// A dictionary of one entry: key and value are object references.
inline std::string oneEntryDictionary(std::uint32_t key, std::uint32_t value) {
    std::string out(1, '\xD1');
    out += bigEndian32(key);
    out += bigEndian32(value);
    return out;
}

inline std::string asciiText(const std::string& text) {
    return counted(0x5, static_cast<std::uint32_t>(text.size())) + text;
}

// A binary list of the given objects (marker first), object 0 at the root,
// with 4-byte offsets and references.
inline std::string binaryList(const std::vector<std::string>& objects) {
    std::string out = "bplist00";
    std::vector<std::uint32_t> offsets;
    for (const auto& o : objects) {
        offsets.push_back(static_cast<std::uint32_t>(out.size()));
        out += o;
    }
    const auto table = static_cast<std::uint32_t>(out.size());
    for (auto o : offsets) out += bigEndian32(o);
    out += std::string(6, '\0') + '\x04' + '\x04';  // offset and reference sizes
    out += std::string(4, '\0') + bigEndian32(static_cast<std::uint32_t>(objects.size()));
    out += std::string(8, '\0');  // the root is object 0
    out += std::string(4, '\0') + bigEndian32(table);
    return out;
}

// {"deep": [[[...]]]} with `levels` arrays, the innermost at depth `levels`.
inline std::string deepXmlArrays(std::size_t levels) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>deep</key>";
    out.reserve(out.size() + levels * 15 + 32);
    for (std::size_t i = 0; i < levels; ++i) out += "<array>";
    for (std::size_t i = 0; i < levels; ++i) out += "</array>";
    return out + "</dict></plist>\n";
}

// {"deep": [[[... [true, true, ...] ...]]]}: `leaves` objects at depth `levels`
// + 1, each within the node budget, but megabytes of indentation as text.
inline std::string deepXmlArraysHoldingLeaves(std::size_t levels, std::size_t leaves) {
    std::string out = "<plist version=\"1.0\"><dict><key>deep</key>";
    for (std::size_t i = 0; i < levels; ++i) out += "<array>";
    for (std::size_t i = 0; i < leaves; ++i) out += "<true/>";
    for (std::size_t i = 0; i < levels; ++i) out += "</array>";
    return out + "</dict></plist>";
}

// The same in a binary list: each array holds the next, the last is empty.
inline std::string deepBinaryArrays(std::size_t levels) {
    std::vector<std::string> objects{oneEntryDictionary(1, 2), asciiText("deep")};
    for (std::size_t i = 0; i < levels; ++i)
        objects.push_back(i + 1 < levels ? arrayOf({static_cast<std::uint32_t>(i + 3)}) : arrayOf({}));
    return binaryList(objects);
}

// {"shared": a0} where each array a(i) holds a(i+1) twice and the last holds
// true twice: a few hundred bytes that stand for 2^(levels+1) objects.
inline std::string sharedBinaryArrays(std::size_t levels) {
    std::vector<std::string> objects{oneEntryDictionary(1, 2), asciiText("shared")};
    for (std::size_t i = 0; i < levels; ++i) {
        const auto next = static_cast<std::uint32_t>(i + 3);
        objects.push_back(arrayOf({next, next}));
    }
    objects.push_back("\x09");
    return binaryList(objects);
}

// {"cycle": a} where a holds b and b holds a.
inline std::string binaryCycle() {
    return binaryList({oneEntryDictionary(1, 2), asciiText("cycle"), arrayOf({3}), arrayOf({2})});
}

// {"wide": {"k0": true, "k1": true, ...}} with `entries` keys.
inline std::string wideXmlDictionary(std::size_t entries) {
    std::string out = "<plist version=\"1.0\"><dict><key>wide</key><dict>";
    for (std::size_t i = 0; i < entries; ++i) out.append("<key>k").append(std::to_string(i)).append("</key><true/>");
    return out + "</dict></dict></plist>";
}

// The same in a binary list, every value one shared true.
inline std::string wideBinaryDictionary(std::size_t entries) {
    const auto n = static_cast<std::uint32_t>(entries);
    std::string wide = counted(0xD, n);
    for (std::uint32_t i = 0; i < n; ++i) wide += bigEndian32(4 + i);
    for (std::uint32_t i = 0; i < n; ++i) wide += bigEndian32(3);
    std::vector<std::string> objects{oneEntryDictionary(1, 2), asciiText("wide"), wide, "\x09"};
    for (std::uint32_t i = 0; i < n; ++i) objects.push_back(asciiText(std::string(1, 'k').append(std::to_string(i))));
    return binaryList(objects);
}

// {"text": [t, t, ...]}: `references` references to one text of `bytes` bytes.
inline std::string sharedBinaryText(std::size_t references, std::size_t bytes) {
    std::vector<std::string> objects{oneEntryDictionary(1, 2), asciiText("text"),
                                     arrayOf(std::vector<std::uint32_t>(references, 3)),
                                     asciiText(std::string(bytes, 'x'))};
    return binaryList(objects);
}

// Lists that once crashed Vesk inside libplist or held it for seconds and
// hundreds of megabytes; the tests and the benchmark run each of them.
struct HostileList {
    const char* name;
    std::function<std::string()> make;
};

inline const HostileList kHostileLists[] = {
    {"xml arrays 200,000 deep", [] { return deepXmlArrays(200'000); }},
    {"binary arrays 95,000 deep", [] { return deepBinaryArrays(95'000); }},
    {"binary arrays each holding the next twice, 32 levels", [] { return sharedBinaryArrays(32); }},
    {"binary arrays holding each other", [] { return binaryCycle(); }},
    {"xml dictionary of 300,000 keys", [] { return wideXmlDictionary(300'000); }},
    {"binary dictionary of 300,000 keys", [] { return wideBinaryDictionary(300'000); }},
    {"one 1 KB text referred to 100,000 times", [] { return sharedBinaryText(100'000, 1024); }},
};

// An Apple maker note: "Apple iOS\0", version 1, "MM", one entry (tag 3,
// UNDEFINED) whose value, `list`, follows the entry.
inline std::vector<std::uint8_t> appleNoteHolding(const std::string& list) {
    std::string note = std::string("Apple iOS\0\0\x01MM", 14) + std::string("\0\x01\0\x03\0\x07", 6);
    note += bigEndian32(static_cast<std::uint32_t>(list.size())) + bigEndian32(14 + 2 + 12 + 4);
    note += std::string(4, '\0') + list;
    return {note.begin(), note.end()};
}

}  // namespace vesk::test::hostile
