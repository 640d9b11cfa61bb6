// SPDX-License-Identifier: GPL-3.0-or-later
// Structure-aware inputs: the fuzzer's bytes steer a small builder that always
// writes a well-formed container (a binary or XML property list, a TIFF), so
// the mutations land on what the readers must bound (depth, shared objects,
// cycles, many entries over one block) instead of on the framing.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace vesk::fuzz {

// Reads the fuzzer's bytes as small choices; zeros once they run out.
class Choices {
public:
    Choices(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint32_t upTo(std::uint32_t limit) {
        const std::uint32_t v = std::uint32_t(byte()) << 16 | std::uint32_t(byte()) << 8 | byte();
        return limit ? v % (limit + 1) : 0;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_, pos_ = 0;
};

inline void putBig(std::string& out, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(char(v >> (8 * i)));
}

// An ISO base media box: its size, its type, then `content`.
inline std::string box(const char* type, const std::string& content) {
    std::string b;
    putBig(b, 8 + content.size(), 4);
    return b + std::string(type, 4) + content;
}

// A binary property list of up to 65,535 objects whose arrays and
// dictionaries refer to any object by index: shared sub-objects, chains as
// deep as the object count and cycles are all reachable. Two fixed shapes
// start the search where the trouble is: a chain of arrays each holding the
// next one twice (2^n expansions) and one long chain (depth n).
inline std::string binaryPropertyList(Choices& in) {
    const int shape = in.byte() % 4;
    const std::uint32_t count = 1 + in.upTo(shape < 2 ? 65534 : 2048);
    std::vector<std::string> objects(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string& o = objects[i];
        const auto ref = [&](std::uint32_t to) { putBig(o, to % count, 2); };
        if (shape == 0 && i + 1 < count) {  // shared: [next, next]
            o = "\xA2";
            ref(i + 1), ref(i + 1);
        } else if (shape == 1 && i + 1 < count) {  // deep: [next]
            o = "\xA1";
            ref(i + 1);
        } else {
            switch (in.byte() % 5) {
            case 0: o = "\x11", putBig(o, in.upTo(65535), 2); break;
            case 1: o = "\x53" "abc"; break;
            case 2: {
                const int n = in.byte() % 15;
                o.push_back(char(0xA0 | n));
                for (int k = 0; k < n; ++k) ref(in.upTo(count));
                break;
            }
            case 3: {
                const int n = in.byte() % 15;
                o.push_back(char(0xD0 | n));
                for (int k = 0; k < 2 * n; ++k) ref(in.upTo(count));
                break;
            }
            default: o = "\x09"; break;  // true
            }
        }
    }
    std::string out = "bplist00";
    std::vector<std::uint32_t> offsets;
    for (const auto& o : objects) {
        offsets.push_back(std::uint32_t(out.size()));
        out += o;
    }
    const std::uint64_t tableAt = out.size();
    for (const auto off : offsets) putBig(out, off, 4);
    out.append(6, '\0');
    out.push_back(4);  // offset size
    out.push_back(2);  // reference size
    putBig(out, count, 8);
    putBig(out, 0, 8);  // the root
    putBig(out, tableAt, 8);
    return out;
}

// An XML property list: a dictionary holding arrays nested as deep as asked
// (up to 300,000), and as wide at each level as asked.
inline std::string xmlPropertyList(Choices& in) {
    const std::uint32_t depth = in.upTo(300000);
    const std::uint32_t width = 1 + in.byte() % 8;
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>k</key>";
    out.reserve(out.size() + depth * (15 + 16 * width));
    for (std::uint32_t i = 0; i < depth; ++i) {
        out += "<array>";
        for (std::uint32_t w = 1; w < width; ++w) out += "<string>x</string>";
    }
    out += "<integer>1</integer>";
    for (std::uint32_t i = 0; i < depth; ++i) out += "</array>";
    out += "</dict></plist>\n";
    return out;
}

// A little-endian TIFF whose first directory holds up to 4,000 ASCII entries
// that all point at one block of up to 1 MB: each entry's value is that block.
// The same directory inside a maker note, laid out as one of the makers
// whose notes are directories (offsets from the TIFF header or from the
// note, either byte order), behind a Make that names the maker.
inline std::string sharedBlockMakerNoteTiff(Choices& in) {
    struct Maker {
        const char* make;
        std::string header;
        std::uint32_t ifdAt, baseInNote;  // baseInNote: offsets count from the note + this, else from the TIFF
        bool fromNote, bigEndian;
    };
    const Maker makers[] = {
        {"Canon", "", 0, 0, false, false},
        {"NIKON CORPORATION", std::string("Nikon\0\2\x10\0\0II*\0\x08\0\0\0", 18), 18, 10, true, false},
        {"OLYMPUS", std::string("OLYMPUS\0II\3\0", 12), 12, 0, true, false},
        {"FUJIFILM", std::string("FUJIFILM\x0c\0\0\0", 12), 12, 0, true, false},
        {"SONY", std::string("SONY DSC \0\0\0", 12), 12, 0, false, false},
        {"PENTAX", std::string("AOC\0MM", 6), 6, 0, false, true},
        {"Apple", std::string("Apple iOS\0\0\1MM", 14), 14, 0, true, true},
    };
    const Maker& m = makers[in.byte() % std::size(makers)];
    const std::uint32_t entries = 1 + in.upTo(m.make[0] == 'A' ? 20000 : 300);
    const std::uint32_t block = 5 + in.upTo(1 << 20);
    // IFD0 {Make, ExifTag} at 8, the Exif IFD {MakerNote}, the Make, the note.
    constexpr std::uint32_t exifAt = 8 + 2 + 24 + 4, makeAt = exifAt + 2 + 12 + 4, noteAt = makeAt + 32;
    std::string out("II*\0\x08\0\0\0", 8);
    const auto le = [&](std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(char(v >> (8 * i)));
    };
    std::string note = m.header;
    const auto put = [&](std::uint64_t v, int bytes) {
        if (m.bigEndian) return putBig(note, v, bytes);
        for (int i = 0; i < bytes; ++i) note.push_back(char(v >> (8 * i)));
    };
    const std::uint32_t blockInNote = m.ifdAt + 2 + entries * 12 + 4;
    const std::uint32_t blockOffset = m.fromNote ? blockInNote - m.baseInNote : noteAt + blockInNote;
    put(entries, 2);
    for (std::uint32_t i = 0; i < entries; ++i) put(0x0100 + i, 2), put(2, 2), put(block, 4), put(blockOffset, 4);
    put(0, 4);
    note.append(block - 1, 'A');
    note.push_back('\0');
    le(2, 2);
    le(0x010F, 2), le(2, 2), le(32, 4), le(makeAt, 4);
    le(0x8769, 2), le(4, 2), le(1, 4), le(exifAt, 4);
    le(0, 4);
    le(1, 2);
    le(0x927C, 2), le(7, 2), le(note.size(), 4), le(noteAt, 4);
    le(0, 4);
    const std::string make(m.make);
    out += make + std::string(32 - make.size(), '\0');
    return out + note;
}

inline std::string sharedBlockTiff(Choices& in) {
    const std::uint32_t entries = 1 + in.upTo(4000);
    const std::uint32_t block = 5 + in.upTo(1 << 20);
    std::string out("II*\0\x08\0\0\0", 8);
    const auto le = [&](std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(char(v >> (8 * i)));
    };
    le(entries, 2);
    const std::uint32_t blockAt = 8 + 2 + entries * 12 + 4;
    for (std::uint32_t i = 0; i < entries; ++i) {
        // Known ASCII tags first (description, make, model...), then private ones.
        static constexpr std::uint16_t kTags[] = {0x010E, 0x010F, 0x0110, 0x0131, 0x013B, 0x8298};
        le(i < std::size(kTags) ? kTags[i] : 0xC000 + i, 2);
        le(2, 2);  // ASCII
        le(block, 4);
        le(blockAt, 4);
    }
    le(0, 4);  // no next directory
    out.append(block - 1, 'A');
    out.push_back('\0');
    return out;
}

}  // namespace vesk::fuzz
