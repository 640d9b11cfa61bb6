// SPDX-License-Identifier: GPL-3.0-or-later
// Vesk's own byte readers, fed hand-made bytes: a valid baseline first, then
// one corrupted field per case.
#include <gtest/gtest.h>

#include <fcntl.h>

#include "../TestSupport.h"
#include "ImageTestSupport.h"
#include "platform/image/AppleMakerNote.h"
#include "platform/image/IccProfile.h"
#include "platform/image/Jp2Header.h"
#include "platform/image/JpegHeader.h"
#include "platform/image/TiffValue.h"
#include "platform/image/UserComment.h"

using namespace vesk::platform;
using namespace vesk::platform::image;
using namespace vesk::test;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

std::string comment(std::string_view raw, bool bigEndian = false) { return decodeUserComment(bytes(raw), bigEndian); }

Bytes utf16(std::u16string_view text, bool bigEndian) {
    Bytes out;
    for (char16_t c : text) bigEndian ? putBE16(out, c) : put16(out, c);
    return out;
}

std::string unicodeComment(const Bytes& payload) { return "UNICODE" + std::string(1, '\0') + asString(payload); }

}  // namespace

TEST(UserComment, TheCharacterCodeIsReadAndNeverShown) {
    using namespace std::string_literals;
    EXPECT_EQ(comment("ASCII\0\0\0Hello"s), "Hello");
    EXPECT_EQ(comment("ASCII   Hello"s), "Hello");  // blanks where NULs belong
    EXPECT_EQ(comment("\0\0\0\0\0\0\0\0Undefined code"s), "Undefined code");
    EXPECT_EQ(comment("ASCII\0\0\0"s), "");
    EXPECT_EQ(comment("ASCII\0\0\0Hello\0trailing junk"s), "Hello");
    EXPECT_EQ(comment("No code at all"s), "No code at all");
    EXPECT_EQ(comment("short"s), "short");
}

TEST(UserComment, TrailingNulsAndBlanksAreTrimmedButInnerOnesKept) {
    using namespace std::string_literals;
    EXPECT_EQ(comment("ASCII\0\0\0two  words   \0\0\0"s), "two  words");
    EXPECT_EQ(comment("ASCII\0\0\0" + std::string(120, ' ')), "");
}

TEST(UserComment, UnicodeFollowsTheMarkTheHeaderOrTheZeroBytes) {
    const std::u16string text = u"Grüße 日本";
    EXPECT_EQ(decodeUserComment(bytes(unicodeComment(utf16(text, true))), true), "Grüße 日本");
    EXPECT_EQ(decodeUserComment(bytes(unicodeComment(utf16(text, false))), false), "Grüße 日本");
    // A byte-order mark wins over the TIFF header.
    Bytes marked{0xFF, 0xFE};
    for (auto b : utf16(u"mark", false)) marked.push_back(b);
    EXPECT_EQ(decodeUserComment(bytes(unicodeComment(marked)), true), "mark");
    // The header says little-endian; the zero bytes say big-endian.
    EXPECT_EQ(decodeUserComment(bytes(unicodeComment(utf16(u"Hello world", true))), false), "Hello world");
    EXPECT_EQ(decodeUserComment(bytes(unicodeComment(utf16(u"Hello world", false))), true), "Hello world");
    // Padding after the text.
    Bytes padded = utf16(u"pad  ", true);
    padded.insert(padded.end(), 6, 0);
    EXPECT_EQ(decodeUserComment(bytes(unicodeComment(padded)), true), "pad");
}

TEST(UserComment, Utf8StaysUtf8) {
    using namespace std::string_literals;
    EXPECT_EQ(comment("ASCII\0\0\0caf\xc3\xa9 cr\xc3\xa8me"s), "café crème");
    EXPECT_EQ(comment("UNICODE\0caf\xc3\xa9 cr\xc3\xa8me\0\0"s), "café crème");
    // Invalid bytes are replaced, not dropped.
    EXPECT_EQ(comment("ASCII\0\0\0a\xff" "b"s), "a\xEF\xBF\xBD" "b");
}

TEST(UserComment, JisIsDecoded) {
    using namespace std::string_literals;
    // JIS X 0208 0x467C 0x4B5C is "日本".
    EXPECT_EQ(comment("JIS\0\0\0\0\0\x46\x7c\x4b\x5c"s), "日本");
    EXPECT_EQ(comment("JIS\0\0\0\0\0\x1b$B\x46\x7c\x4b\x5c\x1b(B"s), "日本");
}

TEST(UserComment, JunkNeverBreaksTheText) {
    Bytes junk = bytes(std::string("UNICODE") + '\0');
    for (int i = 0; i < 301; ++i) junk.push_back(static_cast<std::uint8_t>(i * 37 + 11));
    const std::string text = decodeUserComment(junk, false);
    EXPECT_TRUE(vesk::platform::image::asciiText(bytes(text)).size() <= text.size());
    Bytes lone{'U', 'N', 'I', 'C', 'O', 'D', 'E', 0, 0x00, 0xD8, 0x41, 0x00};  // unpaired surrogate, then "A"
    EXPECT_EQ(decodeUserComment(lone, false), "\xEF\xBF\xBD" "A");
}

TEST(TiffValues, FollowTheValueRules) {
    Bytes one;
    put16(one, 7);
    EXPECT_EQ(tiffValue(TIFF_SHORT, one, false, "X"), Value(7));
    Bytes many;
    put16(many, 1);
    put16(many, 2);
    EXPECT_EQ(tiffValue(TIFF_SHORT, many, false, "X"), Value(Array{Value(1), Value(2)}));
    Bytes rational;
    put32(rational, 1);
    put32(rational, 40);
    EXPECT_EQ(tiffValue(TIFF_RATIONAL, rational, false, "X"), Value(0.025));
    Bytes zeroDen;
    put32(zeroDen, 5);
    put32(zeroDen, 0);
    EXPECT_EQ(tiffValue(TIFF_RATIONAL, zeroDen, false, "X"), Value(0.0));
    Bytes negative;
    put32(negative, static_cast<std::uint32_t>(-3));
    put32(negative, 2);
    EXPECT_EQ(tiffValue(TIFF_SRATIONAL, negative, false, "X"), Value(-1.5));
    Bytes be{0x01, 0x02};
    EXPECT_EQ(tiffValue(TIFF_SHORT, be, true, "X"), Value(0x0102));
}

TEST(TiffValues, TextUndefinedAndVersions) {
    EXPECT_EQ(tiffValue(TIFF_ASCII, bytes(std::string("Canon\0junk", 10)), false, "Make"), Value("Canon"));
    EXPECT_EQ(tiffValue(TIFF_ASCII, bytes(std::string("\0\0", 2)), false, "Make"), std::nullopt);
    EXPECT_EQ(tiffValue(TIFF_ASCII, bytes("a\xff"), false, "Make"), Value("a\xEF\xBF\xBD"));
    EXPECT_EQ(tiffValue(TIFF_UNDEFINED, bytes("0231"), false, "ExifVersion"), Value(Array{Value(2), Value(3), Value(1)}));
    EXPECT_EQ(tiffValue(TIFF_UNDEFINED, bytes("0100"), false, "FlashpixVersion"), Value(Array{Value(1), Value(0)}));
    EXPECT_EQ(tiffValue(TIFF_UNDEFINED, Bytes{1, 2, 3, 0}, false, "ComponentsConfiguration"),
              Value(Array{Value(1), Value(2), Value(3), Value(0)}));
    EXPECT_EQ(tiffValue(TIFF_UNDEFINED, Bytes{3}, false, "FileSource"), Value(Data{3}));
    EXPECT_EQ(tiffValue(TIFF_UNDEFINED, Bytes(64, 1), false, "X"), Value(Data(64, 1)));
    EXPECT_EQ(tiffValue(TIFF_UNDEFINED, Bytes(65, 1), false, "X"), std::nullopt);
    EXPECT_EQ(tiffValue(TIFF_SHORT, Bytes((kMaxListLength + 1) * 2, 0), false, "X"), std::nullopt);
    EXPECT_EQ(tiffValue(99, Bytes{1, 2}, false, "X"), std::nullopt);
}

namespace {

// An Apple maker note with four entries: a SLONG inline, an SRATIONAL list
// by offset, a binary property list by offset, and a SHORT of unknown tag.
Bytes appleNote() {
    Bytes n;
    putText(n, std::string_view("Apple iOS\0", 10));
    putBE16(n, 1);  // version
    putText(n, "MM");
    putBE16(n, 4);  // entry count
    const std::uint32_t dataStart = 14 + 2 + 4 * 12 + 4;
    // tag, type, count, value or offset (from the start of the note)
    putBE16(n, 0x0001); putBE16(n, 9); putBE32(n, 1); putBE32(n, 7);
    putBE16(n, 0x0008); putBE16(n, 10); putBE32(n, 2); putBE32(n, dataStart);
    putBE16(n, 0x0003); putBE16(n, 7); putBE32(n, 0); putBE32(n, dataStart + 16);  // count set below
    putBE16(n, 0x00EE); putBE16(n, 3); putBE32(n, 1); putBE16(n, 42); putBE16(n, 0);
    putBE32(n, 0);  // next IFD
    putBE32(n, static_cast<std::uint32_t>(-1)); putBE32(n, 2);  // -0.5
    putBE32(n, 3); putBE32(n, 4);                              // 0.75
    return n;
}

}  // namespace

TEST(AppleMakerNote, ReadsTheIfdWithOffsetsFromTheNoteAndDecodesPropertyLists) {
    Bytes note = appleNote();
    // The binary property list {"value": 5}: header, dict of one entry, key
    // "value", integer 5, offset table, trailer.
    const Bytes bplist = {'b', 'p', 'l', 'i', 's', 't', '0', '0',
                          0xD1, 0x01, 0x02,                      // dict, 1 entry: key ref 1, value ref 2
                          0x55, 'v', 'a', 'l', 'u', 'e',         // ASCII string "value"
                          0x10, 0x05,                            // int 5
                          0x08, 0x0B, 0x11,                      // offsets of objects 0..2
                          0, 0, 0, 0, 0, 0, 1, 1,                // trailer: offset size 1, ref size 1
                          0, 0, 0, 0, 0, 0, 0, 3,                // 3 objects
                          0, 0, 0, 0, 0, 0, 0, 0,                // top object 0
                          0, 0, 0, 0, 0, 0, 0, 0x13};            // offset table at 19
    note.insert(note.end(), bplist.begin(), bplist.end());
    // Patch the count of entry 3 (tag 0x0003).
    const std::size_t countAt = 14 + 2 + 2 * 12 + 4;
    note[countAt + 3] = static_cast<std::uint8_t>(bplist.size());

    const auto apple = readAppleMakerNote(note);
    ASSERT_TRUE(apple);
    EXPECT_EQ(apple->at("MakerNoteVersion"), Value(7));
    EXPECT_EQ(apple->at("AccelerationVector"), Value(Array{Value(-0.5), Value(0.75)}));
    EXPECT_EQ(apple->at("RunTime"), Value(Dictionary{{"value", Value(5)}}));
    EXPECT_EQ(apple->at("238"), Value(42));  // unknown tags by number
}

TEST(AppleMakerNote, CorruptionLosesTheBadEntryOnly) {
    const Bytes good = appleNote();
    EXPECT_FALSE(readAppleMakerNote(bytes("Nikon\0\x02\x10\0\0")));
    EXPECT_FALSE(readAppleMakerNote(Bytes(good.begin(), good.begin() + 12)));

    Bytes wrongOrder = good;
    wrongOrder[12] = 'I';
    wrongOrder[13] = 'I';
    EXPECT_FALSE(readAppleMakerNote(wrongOrder));

    Bytes badOffset = good;  // entry 2's offset far outside the note
    badOffset[14 + 2 + 12 + 8] = 0x7F;
    auto apple = readAppleMakerNote(badOffset);
    ASSERT_TRUE(apple);
    EXPECT_FALSE(apple->count("AccelerationVector"));
    EXPECT_TRUE(apple->count("MakerNoteVersion"));

    Bytes absurdCount = good;  // 0xFFFF entries claimed, four present
    absurdCount[14] = 0xFF;
    absurdCount[15] = 0xFF;
    apple = readAppleMakerNote(absurdCount);
    ASSERT_TRUE(apple);
    EXPECT_TRUE(apple->count("MakerNoteVersion"));

    Bytes hugeComponents = good;  // 2^32-1 rationals
    for (int i = 0; i < 4; ++i) hugeComponents[14 + 2 + 12 + 4 + i] = 0xFF;
    apple = readAppleMakerNote(hugeComponents);
    ASSERT_TRUE(apple);
    EXPECT_FALSE(apple->count("AccelerationVector"));

    for (std::size_t cut = 0; cut < good.size(); ++cut) readAppleMakerNote(Bytes(good.begin(), good.begin() + cut));
}

namespace {

struct TempFile {
    ScratchDir dir;
    std::string path;
    int fd = -1;
    explicit TempFile(const Bytes& content) {
        path = dir.write("f", asString(content));
        fd = ::open(path.c_str(), O_RDONLY);
    }
    ~TempFile() { ::close(fd); }
};

Bytes jpegStart() {
    Bytes j{0xFF, 0xD8};
    // APP0 JFIF 1.02, dots per inch, 300 x 150
    j.insert(j.end(), {0xFF, 0xE0, 0x00, 0x10});
    putText(j, std::string_view("JFIF\0", 5));
    j.insert(j.end(), {1, 2, 1});
    putBE16(j, 300);
    putBE16(j, 150);
    j.insert(j.end(), {0, 0});
    return j;
}

void appendFrame(Bytes& j, std::uint8_t marker, std::uint16_t w, std::uint16_t h, std::uint8_t comps) {
    j.insert(j.end(), {0xFF, marker});
    putBE16(j, static_cast<std::uint16_t>(8 + 3 * comps));
    j.push_back(8);
    putBE16(j, h);
    putBE16(j, w);
    j.push_back(comps);
    for (int i = 0; i < comps; ++i) j.insert(j.end(), {static_cast<std::uint8_t>(i + 1), 0x11, 0});
}

}  // namespace

TEST(JpegHeaders, JfifAndFrameHeader) {
    Bytes j = jpegStart();
    j.insert(j.end(), {0xFF, 0xFF, 0xFF});  // fill bytes before the next marker
    j.pop_back();
    appendFrame(j, 0xC2, 640, 480, 3);
    j.insert(j.end(), {0xFF, 0xDA, 0, 2});
    TempFile f(j);
    const auto h = readJpegHeader(FileBytes(f.fd));
    ASSERT_TRUE(h.jfif);
    EXPECT_EQ(h.jfif->versionMinor, 2);
    EXPECT_EQ(h.jfif->densityUnit, 1);
    EXPECT_EQ(h.jfif->xDensity, 300);
    EXPECT_EQ(h.jfif->yDensity, 150);
    ASSERT_TRUE(h.frame);
    EXPECT_EQ(h.frame->width, 640);
    EXPECT_EQ(h.frame->height, 480);
    EXPECT_EQ(h.frame->components, 3);
    EXPECT_TRUE(h.frame->progressive());
    EXPECT_EQ(h.scanStart, j.size() - 2);  // just past the SOS marker
    ASSERT_EQ(h.segments.size(), 2u);
    EXPECT_EQ(h.segments[0].marker, JPEG_APP0);
    EXPECT_EQ(h.segments[0].offset, 6u);
    EXPECT_EQ(h.segments[0].length, 14u);
    EXPECT_EQ(h.segments[1].marker, 0xC2);
    EXPECT_EQ(h.segments[1].length, 6u + 3 * 3);
}

// The segments before the scan are listed whole; a segment that runs past
// the end of the file ends the walk without a scan.
TEST(JpegHeaders, SegmentsBeforeTheScanAreListedWhole) {
    Bytes j{0xFF, 0xD8};
    j.insert(j.end(), {0xFF, 0xE1, 0x00, 0x06, 'a', 'b', 'c', 'd'});
    j.insert(j.end(), {0xFF, 0xFE, 0x00, 0x02});  // an empty comment
    appendFrame(j, 0xC0, 8, 8, 1);
    j.insert(j.end(), {0xFF, 0xDA, 0x00, 0x08});
    TempFile f(j);
    const auto h = readJpegHeader(FileBytes(f.fd));
    ASSERT_EQ(h.segments.size(), 3u);
    EXPECT_EQ(h.segments[0].offset, 6u);
    EXPECT_EQ(h.segments[0].length, 4u);
    EXPECT_EQ(h.segments[1].marker, JPEG_COM);
    EXPECT_EQ(h.segments[1].length, 0u);
    EXPECT_EQ(h.segments[2].marker, 0xC0);
    EXPECT_EQ(h.scanStart, j.size() - 2);

    Bytes cut(j.begin(), j.begin() + 7);  // inside the first segment's payload
    TempFile c(cut);
    const auto t = readJpegHeader(FileBytes(c.fd));
    EXPECT_TRUE(t.segments.empty());
    EXPECT_EQ(t.scanStart, 0u);
}

// Small reads come out of one cached block; wherever a read falls (inside
// it, across its end, larger than it, past the end of the file) it must
// give the file's bytes or fail.
TEST(FileBytesReads, AgreeWithTheFileWhereverTheyFall) {
    Bytes content(3 * FileBytes::kBlockSize + 123);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    TempFile f(content);
    const FileBytes file(f.fd);
    ASSERT_EQ(file.size(), content.size());
    const std::size_t block = FileBytes::kBlockSize;
    const std::pair<std::size_t, std::size_t> reads[] = {
        {0, 16},         {2, 2},          {block - 1, 2},  {block - 3, 3},    {10, block},       {block, 1},
        {5, 2 * block},  {0, 0},          {content.size() - 1, 1},            {content.size(), 0},
        {3 * block, 123}, {block / 2, block}, {1, 1}};
    Bytes out;
    for (const auto& [offset, length] : reads) {
        SCOPED_TRACE(std::to_string(offset) + "+" + std::to_string(length));
        ASSERT_TRUE(file.read(offset, length, out));
        EXPECT_EQ(out, Bytes(content.begin() + static_cast<std::ptrdiff_t>(offset),
                             content.begin() + static_cast<std::ptrdiff_t>(offset + length)));
    }
    EXPECT_FALSE(file.read(content.size() - 1, 2, out));
    EXPECT_FALSE(file.read(content.size() + 1, 0, out));
    EXPECT_FALSE(file.read(0, content.size() + 1, out));
}

TEST(JpegHeaders, BadStreamsYieldWhatCameBeforeTheFault) {
    Bytes good = jpegStart();
    appendFrame(good, 0xC0, 10, 20, 1);
    for (std::size_t cut = 0; cut <= good.size(); ++cut) {
        TempFile f(Bytes(good.begin(), good.begin() + cut));
        const auto h = readJpegHeader(FileBytes(f.fd));
        if (cut < 20) {
            EXPECT_FALSE(h.jfif) << cut;
        }
        if (cut < good.size()) {
            EXPECT_FALSE(h.frame) << cut;
        }
    }
    Bytes zeroLength = jpegStart();
    zeroLength.insert(zeroLength.end(), {0xFF, 0xE1, 0x00, 0x00});
    appendFrame(zeroLength, 0xC0, 10, 20, 1);
    TempFile z(zeroLength);
    EXPECT_FALSE(readJpegHeader(FileBytes(z.fd)).frame);

    // A stream of minimal segments ends by the segment bound, not by the file.
    Bytes many{0xFF, 0xD8};
    for (int i = 0; i < 10000; ++i) many.insert(many.end(), {0xFF, 0xFE, 0x00, 0x02});
    appendFrame(many, 0xC0, 10, 20, 1);
    TempFile m(many);
    EXPECT_FALSE(readJpegHeader(FileBytes(m.fd)).frame);
}

namespace {

Bytes jp2(bool withAlpha) {
    Bytes b;
    putBE32(b, 12); putText(b, "jP  "); putBE32(b, 0x0D0A870A);
    putBE32(b, 20); putText(b, "ftyp"); putText(b, "jp2 "); putBE32(b, 0); putText(b, "jp2 ");
    Bytes header;
    putBE32(header, 22); putText(header, "ihdr");
    putBE32(header, 48); putBE32(header, 64); putBE16(header, withAlpha ? 2 : 1);
    header.insert(header.end(), {11, 7, 0, 0});  // 12 bits, wavelet, known colour, no IPR
    putBE32(header, 15); putText(header, "colr"); header.insert(header.end(), {1, 0, 0}); putBE32(header, 17);
    if (withAlpha) {
        putBE32(header, 22); putText(header, "cdef"); putBE16(header, 2);
        putBE16(header, 0); putBE16(header, 0); putBE16(header, 1);
        putBE16(header, 1); putBE16(header, 1); putBE16(header, 0);
    }
    putBE32(b, static_cast<std::uint32_t>(8 + header.size())); putText(b, "jp2h");
    b.insert(b.end(), header.begin(), header.end());
    return b;
}

}  // namespace

TEST(Jp2Headers, ImageHeaderColourAndAlpha) {
    TempFile plain(jp2(false));
    auto h = readJp2Header(FileBytes(plain.fd));
    ASSERT_TRUE(h);
    EXPECT_EQ(h->width, 64u);
    EXPECT_EQ(h->height, 48u);
    EXPECT_EQ(h->depth, 12);
    EXPECT_EQ(h->colorModel, "Gray");
    EXPECT_FALSE(h->hasAlpha);
    TempFile alpha(jp2(true));
    h = readJp2Header(FileBytes(alpha.fd));
    ASSERT_TRUE(h);
    EXPECT_TRUE(h->hasAlpha);
}

TEST(Jp2Headers, MalformedBoxesAreRefused) {
    const Bytes good = jp2(true);
    for (std::size_t cut = 0; cut < good.size(); ++cut) {
        TempFile f(Bytes(good.begin(), good.begin() + cut));
        readJp2Header(FileBytes(f.fd));
    }
    Bytes hugeBox = good;  // ftyp claims 4 GB
    hugeBox[12] = hugeBox[13] = hugeBox[14] = hugeBox[15] = 0xFF;
    TempFile h(hugeBox);
    EXPECT_FALSE(readJp2Header(FileBytes(h.fd)));
    Bytes tinyBox = good;  // a box shorter than its own header
    tinyBox[15] = 3;
    TempFile t(tinyBox);
    EXPECT_FALSE(readJp2Header(FileBytes(t.fd)));
}

namespace {

Bytes iccProfile(const std::string& desc, std::uint32_t descOffset = 144) {
    Bytes tag;
    putText(tag, "desc");
    putBE32(tag, 0);
    putBE32(tag, static_cast<std::uint32_t>(desc.size() + 1));
    putText(tag, desc);
    tag.push_back(0);
    Bytes p(128, 0);
    putBE32(p, 1);
    putText(p, "desc");
    putBE32(p, descOffset);
    putBE32(p, static_cast<std::uint32_t>(tag.size()));
    p.insert(p.end(), tag.begin(), tag.end());
    return p;
}

}  // namespace

TEST(IccProfiles, DescriptionAndBadOffsets) {
    EXPECT_EQ(iccProfileDescription(iccProfile("sRGB IEC61966-2.1")), "sRGB IEC61966-2.1");
    EXPECT_EQ(iccProfileDescription(iccProfile("x", 1u << 30)), std::nullopt);
    EXPECT_EQ(iccProfileDescription(Bytes(40, 0)), std::nullopt);
    const Bytes good = iccProfile("cut me");
    for (std::size_t cut = 0; cut < good.size(); ++cut) iccProfileDescription(Bytes(good.begin(), good.begin() + cut));
}
