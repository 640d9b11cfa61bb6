// SPDX-License-Identifier: GPL-3.0-or-later
// The image-property reader on real files: shipped camera samples, generated
// fixtures and hand-broken TIFFs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "../TestSupport.h"
#include "ImageTestSupport.h"
#include "platform/Bytes.h"
#include "platform/image/ExivReader.h"
#include "platform/image/ImageSource.h"
#include "platform/image/JpegHeader.h"

using namespace vesk::platform;
using namespace vesk::test;

namespace {

Dictionary mustRead(const std::string& path) {
    auto props = properties(path);
    EXPECT_TRUE(props) << path;
    return props.value_or(Dictionary{});
}

}  // namespace

TEST(ImageSourceCreation, OnlyReadableRegularFilesGiveASource) {
    ScratchDir dir;
    EXPECT_FALSE(ImageSource::createWithPath(dir.path().string()));
    EXPECT_FALSE(ImageSource::createWithPath(dir.file("missing.jpg")));
    EXPECT_FALSE(ImageSource::createWithPath(""));
    ASSERT_EQ(::mkfifo(dir.file("pipe.jpg").c_str(), 0600), 0);
    EXPECT_FALSE(ImageSource::createWithPath(dir.file("pipe.jpg")));  // and does not block
    if (::geteuid() != 0) {
        const auto locked = dir.write("locked.jpg", "x");
        ::chmod(locked.c_str(), 0);
        EXPECT_FALSE(ImageSource::createWithPath(locked));
    }
    EXPECT_TRUE(ImageSource::createWithPath(dir.write("text.jpg", "not an image")));
    EXPECT_EQ(imageSourceGetStatus(nullptr), kImageStatusInvalidData);
}

TEST(ImageSourceCreation, ReadableFilesThatAreNoImagesGiveNoProperties) {
    EXPECT_EQ(properties(fixture("text.jpg")), std::nullopt);
    EXPECT_EQ(properties(fixture("empty.jpg")), std::nullopt);
    EXPECT_EQ(properties(fixture("folder.jpg")), std::nullopt);
    EXPECT_EQ(imageSourceGetStatus(ImageSource::createWithPath(fixture("text.jpg")).get()), kImageStatusUnknownType);
    EXPECT_EQ(imageSourceGetStatus(ImageSource::createWithPath(sample("Nikon_COOLPIX_P1.jpg")).get()),
              kImageStatusComplete);
    EXPECT_EQ(ImageSource::createWithPath(sample("Nikon_COOLPIX_P1.jpg"))->copyPropertiesAtIndex(1), std::nullopt);
}

TEST(CameraSamples, EachMakerNoteStandsUnderItsOwnKey) {
    const std::pair<const char*, const char*> cases[] = {
        {"Canon_DIGITAL_IXUS_400.jpg", "{MakerCanon}"},
        {"Nikon_COOLPIX_P1.jpg", "{MakerNikon}"},
        {"Nikon_COOLPIX_P6000_GPS.jpg", "{MakerNikon}"},
        {"Fujifilm_FinePix_E500.jpg", "{MakerFuji}"},
        {"Apple_iPhone_6.jpg", "{MakerApple}"},
    };
    for (const auto& [file, key] : cases) {
        const Dictionary props = mustRead(sample(file));
        const Dictionary* maker = sub(props, key);
        ASSERT_TRUE(maker) << file;
        EXPECT_GT(maker->size(), 5u) << file;
        for (const char* other : {"{MakerNikon}", "{MakerCanon}", "{MakerApple}", "{MakerFuji}", "{MakerPentax}"})
            if (std::string(other) != key) {
                EXPECT_FALSE(props.count(other)) << file << " " << other;
            }
        EXPECT_TRUE(sub(props, "{Exif}")) << file;
        EXPECT_TRUE(sub(props, "{TIFF}")) << file;
        EXPECT_FALSE(sub(props, "{Exif}")->count("MakerNote")) << file;
    }
}

TEST(CameraSamples, CanonSubDirectoriesAndAuxiliaryData) {
    const Dictionary props = mustRead(sample("Canon_DIGITAL_IXUS_400.jpg"));
    const Dictionary* canon = sub(props, "{MakerCanon}");
    ASSERT_TRUE(canon);
    EXPECT_EQ(canon->at("OwnerName"), Value("Jean-Pierre Grignon"));
    EXPECT_TRUE(canon->count("MaxAperture"));  // from the camera-settings sub-directory
    const Dictionary* aux = sub(props, "{ExifAux}");
    ASSERT_TRUE(aux);
    EXPECT_EQ(aux->at("Firmware"), Value("Firmware Version 1.00"));
    EXPECT_EQ(aux->at("OwnerName"), Value("Jean-Pierre Grignon"));
    EXPECT_EQ(aux->at("LensInfo"), Value(Array{Value(7.40625), Value(22.21875)}));
}

TEST(CameraSamples, NikonNameSharedByTwoTagsKeepsBoth) {
    const Dictionary props = mustRead(sample("Nikon_COOLPIX_P6000_GPS.jpg"));
    const Dictionary* nikon = sub(props, "{MakerNikon}");
    ASSERT_TRUE(nikon);
    EXPECT_EQ(nikon->at("Saturation"), Value(0));
    EXPECT_EQ(nikon->at("Nikon3.Saturation"), Value("NORMAL"));
}

TEST(CameraSamples, AppleMakerNoteIsDecodedWithItsPropertyLists) {
    const Dictionary props = mustRead(sample("Apple_iPhone_6.jpg"));
    const Dictionary* apple = sub(props, "{MakerApple}");
    ASSERT_TRUE(apple);
    const Dictionary* runTime = apple->at("RunTime").get<Dictionary>();
    ASSERT_TRUE(runTime);
    EXPECT_EQ(runTime->at("timescale"), Value(1000000000));
    EXPECT_EQ(runTime->at("flags"), Value(1));
    EXPECT_EQ(apple->at("AETarget"), Value(142));
    EXPECT_EQ(apple->at("MakerNoteVersion"), Value(2));
    const Array* acceleration = apple->at("AccelerationVector").get<Array>();
    ASSERT_TRUE(acceleration);
    EXPECT_EQ(acceleration->size(), 3u);
}

TEST(CameraSamples, GpsInDecimalDegreesWithTheHemisphereInTheRef) {
    const Dictionary props = mustRead(sample("Apple_iPhone_6.jpg"));
    const Dictionary* gps = sub(props, "{GPS}");
    ASSERT_TRUE(gps);
    EXPECT_NEAR(*gps->at("Latitude").get<double>(), 40.4469722, 1e-6);
    EXPECT_EQ(gps->at("LatitudeRef"), Value("N"));
    EXPECT_NEAR(*gps->at("Longitude").get<double>(), 3.7247527, 1e-6);
    EXPECT_EQ(gps->at("LongitudeRef"), Value("W"));
    EXPECT_EQ(gps->at("DateStamp"), Value("2015:04:10"));
    EXPECT_FALSE(gps->count("GPSLatitude"));
    EXPECT_TRUE(sub(mustRead(sample("Nikon_COOLPIX_P6000_GPS.jpg")), "{GPS}"));
}

TEST(CameraSamples, TopLevelAndValueForms) {
    const Dictionary props = mustRead(sample("Apple_iPhone_6.jpg"));
    EXPECT_EQ(props.at("PixelWidth"), Value(3264));
    EXPECT_EQ(props.at("PixelHeight"), Value(2448));
    EXPECT_EQ(props.at("Depth"), Value(8));
    EXPECT_EQ(props.at("ColorModel"), Value("RGB"));
    EXPECT_EQ(props.at("DPIWidth"), Value(72.0));
    EXPECT_EQ(props.at("Orientation"), Value(1));
    EXPECT_EQ(props.at("FileSize"), Value(static_cast<std::int64_t>(std::filesystem::file_size(sample("Apple_iPhone_6.jpg")))));
    const Dictionary* exif = sub(props, "{Exif}");
    EXPECT_EQ(exif->at("ExifVersion"), Value(Array{Value(2), Value(2), Value(1)}));
    EXPECT_EQ(exif->at("SubjectArea"), Value(Array{Value(1754), Value(1356), Value(612), Value(607)}));
    EXPECT_EQ(exif->at("ExposureTime"), Value(0.025));
    EXPECT_EQ(exif->at("DateTimeOriginal"), Value("2015:04:10 20:12:23"));
    EXPECT_EQ(exif->at("SceneType"), Value(Data{1}));
    EXPECT_FALSE(sub(props, "{TIFF}")->count("ExifTag"));
    EXPECT_FALSE(sub(props, "{JFIF}"));  // the iPhone writes no JFIF segment
    // The Nikon P1's comment is only blanks: nothing to say, so no key.
    EXPECT_FALSE(sub(mustRead(sample("Nikon_COOLPIX_P1.jpg")), "{Exif}")->count("UserComment"));
}

TEST(Fixtures, JfifWithoutTiffAndProgressiveFrames) {
    const Dictionary jfifOnly = mustRead(fixture("jfif-only.jpg"));
    EXPECT_FALSE(jfifOnly.count("{TIFF}"));
    EXPECT_FALSE(jfifOnly.count("{Exif}"));
    const Dictionary* jfif = sub(jfifOnly, "{JFIF}");
    ASSERT_TRUE(jfif);
    EXPECT_EQ(jfif->at("JFIFVersion"), Value(Array{Value(1), Value(0), Value(1)}));
    EXPECT_EQ(jfif->at("IsProgressive"), Value(false));
    EXPECT_EQ(sub(mustRead(fixture("progressive.jpg")), "{JFIF}")->at("IsProgressive"), Value(true));
    EXPECT_EQ(mustRead(fixture("gray.jpg")).at("ColorModel"), Value("Gray"));
    EXPECT_EQ(mustRead(fixture("icc.jpg")).at("ProfileName"), Value("Vesk Test Profile"));
}

TEST(Fixtures, TiffFiles) {
    const Dictionary camera = mustRead(fixture("camera.tif"));
    EXPECT_EQ(camera.at("PixelWidth"), Value(40));
    EXPECT_EQ(camera.at("PixelHeight"), Value(30));
    EXPECT_EQ(camera.at("Orientation"), Value(6));
    EXPECT_EQ(camera.at("DPIWidth"), Value(300.0));
    EXPECT_FALSE(camera.count("HasAlpha"));  // no ExtraSamples: nothing to say
    const Dictionary* tiff = sub(camera, "{TIFF}");
    ASSERT_TRUE(tiff);
    EXPECT_EQ(tiff->at("Make"), Value("Vesk"));
    EXPECT_FALSE(tiff->count("StripOffsets"));
    EXPECT_FALSE(tiff->count("StripByteCounts"));
    EXPECT_EQ(mustRead(fixture("alpha.tif")).at("HasAlpha"), Value(true));
    EXPECT_EQ(sub(mustRead(fixture("big-endian.tif")), "{TIFF}")->at("Model"), Value("MM Camera"));
}

TEST(Fixtures, Jpeg2000WithExif) {
    const Dictionary props = mustRead(fixture("exif.jp2"));
    EXPECT_EQ(props.at("PixelWidth"), Value(64));
    EXPECT_EQ(props.at("PixelHeight"), Value(48));
    EXPECT_EQ(props.at("ColorModel"), Value("RGB"));
    EXPECT_EQ(sub(props, "{Exif}")->at("UserComment"), Value("In a JP2 box"));
    EXPECT_EQ(sub(props, "{TIFF}")->at("Make"), Value("Vesk"));
}

TEST(Fixtures, AuxiliaryLensFromXmp) {
    const Dictionary props = mustRead(fixture("lens.jpg"));
    EXPECT_EQ(sub(props, "{Exif}")->at("LensModel"), Value("EXIF Lens 50mm"));
    const Dictionary* aux = sub(props, "{ExifAux}");
    ASSERT_TRUE(aux);
    EXPECT_EQ(aux->at("LensModel"), Value("Aux Lens 50mm f/1.8"));
    EXPECT_EQ(aux->at("SerialNumber"), Value("A1234"));
    EXPECT_EQ(aux->at("LensInfo"), Value(Array{Value(50.0), Value(50.0), Value(1.8), Value(1.8)}));
}

TEST(Fixtures, CommentsInEveryEncoding) {
    const auto commentOf = [](const char* name) {
        const Dictionary props = mustRead(fixture(name));
        const Dictionary* exif = sub(props, "{Exif}");
        return exif && exif->count("UserComment") ? describe(exif->at("UserComment")) : std::string("(none)");
    };
    EXPECT_EQ(commentOf("unicode-be.jpg"), "\"Grüße aus Tōkyō 日本\"");
    EXPECT_EQ(commentOf("unicode-le.jpg"), "\"Grüße aus Tōkyō 日本\"");
    EXPECT_EQ(commentOf("unicode-lying.jpg"), "\"Grüße Welt\"");
    EXPECT_EQ(commentOf("utf8-ascii.jpg"), "\"café crème\"");
    EXPECT_EQ(commentOf("words.jpg"), "\"Just some plain words\"");
    const Dictionary bigProps = mustRead(fixture("big-comment.tif"));
    const Dictionary* big = sub(bigProps, "{Exif}");
    ASSERT_TRUE(big);
    // A 1 MB comment is cut to the text budget (less its 8-byte code) and says so.
    const std::string& comment = *big->at("UserComment").get<std::string>();
    EXPECT_EQ(comment.rfind("Lorem ipsum dolor sit amet. ", 0), 0u);
    EXPECT_EQ(comment.substr(image::kMaxTagTextBytes - 8), "<... 960 KB cut>");
}

TEST(BadInput, TruncatedJpegsGiveWhatWasRead) {
    const Dictionary early = mustRead(fixture("truncated-exif.jpg"));
    EXPECT_TRUE(early.count("{JFIF}"));
    const Dictionary late = mustRead(fixture("truncated-scan.jpg"));
    EXPECT_EQ(late.at("PixelWidth"), Value(100));
    EXPECT_TRUE(late.count("{MakerCanon}"));
}

namespace {

// A little-endian TIFF: IFD0 at 8 with Make, Model and an EXIF pointer; the
// EXIF IFD holds ISOSpeedRatings. `corrupt` edits the bytes afterwards.
std::string brokenTiff(const std::function<void(std::vector<std::uint8_t>&)>& corrupt) {
    std::vector<std::uint8_t> b{'I', 'I', 42, 0};
    put32(b, 8);
    const std::uint32_t ifd0 = 8, exifIfd = ifd0 + 2 + 3 * 12 + 4, strings = exifIfd + 2 + 12 + 4;
    put16(b, 3);
    put16(b, 0x010F); put16(b, 2); put32(b, 6); put32(b, strings);          // Make
    put16(b, 0x0110); put16(b, 2); put32(b, 4); putText(b, std::string_view("M1\0\0", 4));       // Model, inline
    put16(b, 0x8769); put16(b, 4); put32(b, 1); put32(b, exifIfd);          // ExifTag
    put32(b, 0);                                                             // next IFD
    put16(b, 1);
    put16(b, 0x8827); put16(b, 3); put32(b, 1); put16(b, 250); put16(b, 0);  // ISOSpeedRatings
    put32(b, 0);
    putText(b, std::string_view("Maker\0", 6));
    corrupt(b);
    return asString(b);
}

}  // namespace

TEST(BadInput, CorruptIfdsLoopsAndAbsurdCountsRunToTheEnd) {
    ScratchDir dir;
    const auto read = [&](const std::string& name, const std::function<void(std::vector<std::uint8_t>&)>& edit) {
        return properties(dir.write(name, brokenTiff(edit)));
    };
    auto props = read("good.tif", [](auto&) {});
    ASSERT_TRUE(props);
    EXPECT_EQ(sub(*props, "{TIFF}")->at("Make"), Value("Maker"));
    EXPECT_EQ(sub(*props, "{Exif}")->at("ISOSpeedRatings"), Value(250));

    // IFD0's next pointer leads back to IFD0; the EXIF IFD's to itself.
    props = read("loop.tif", [](auto& b) {
        b[8 + 2 + 36] = 8;
        b[50 + 2 + 12] = 50;
    });
    ASSERT_TRUE(props);
    EXPECT_EQ(sub(*props, "{TIFF}")->at("Model"), Value("M1"));

    // Make's offset far past the end of the file: Model survives.
    props = read("offset.tif", [](auto& b) { b[8 + 2 + 8 + 3] = 0x7F; });
    ASSERT_TRUE(props);
    EXPECT_EQ(sub(*props, "{TIFF}")->at("Model"), Value("M1"));

    // A count of four thousand million characters.
    props = read("count.tif", [](auto& b) { b[8 + 2 + 4] = b[8 + 2 + 5] = b[8 + 2 + 6] = b[8 + 2 + 7] = 0xFF; });
    ASSERT_TRUE(props);

    // The EXIF pointer leads outside the file.
    props = read("exifptr.tif", [](auto& b) { b[8 + 2 + 24 + 8 + 3] = 0x40; });
    ASSERT_TRUE(props);

    // Every truncation of the file.
    const std::string good = brokenTiff([](auto&) {});
    for (std::size_t cut = 0; cut < good.size(); ++cut) properties(dir.write("cut.tif", good.substr(0, cut)));
}

TEST(BadInput, Exiv2WritesNothingOfItsOwn) {
    ScratchDir dir;
    const std::string out = dir.file("stderr");
    std::fflush(stderr);
    const int saved = ::dup(2);
    FILE* sink = std::fopen(out.c_str(), "w");
    ::dup2(::fileno(sink), 2);
    properties(dir.write("loop.tif", brokenTiff([](auto& b) { b[8 + 2 + 36] = 8; })));
    properties(fixture("truncated-exif.jpg"));
    properties(fixture("junk-comment.jpg"));
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::fclose(sink);
    EXPECT_EQ(readFile(out), "");
}

TEST(BadInput, AGigabyteTiffCostsWhatItsHeadersCost) {
    ScratchDir dir;
    const std::string big = dir.file("big.tif");
    std::filesystem::copy_file(fixture("camera.tif"), big);
    // A sparse gigabyte after the real image data.
    std::filesystem::resize_file(big, std::uint64_t{1} << 30);
    properties(fixture("camera.tif"));  // settle one-time allocations first
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    const auto props = properties(big);
    ::getrusage(RUSAGE_SELF, &after);
    ASSERT_TRUE(props);
    EXPECT_EQ(props->at("FileSize"), Value(std::int64_t{1} << 30));
    EXPECT_EQ(props->at("PixelWidth"), Value(40));
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 32 * 1024) << "kilobytes";
}

namespace {

std::optional<vesk::platform::image::ExivMetadata> jpegHeadMetadata(const std::string& path) {
    using namespace vesk::platform::image;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    const FileBytes file(fd);
    std::optional<ExivMetadata> meta = readJpegHeadWithExiv2(file, readJpegHeader(file));
    ::close(fd);
    return meta;
}

}  // namespace

// JPEGs are handed to Exiv2 as the segments it reads before the first scan,
// the XMP packet parsed apart; that must read exactly like the whole file,
// which is how every other file is read.
TEST(ExivReader, AJpegHeadReadsLikeTheWholeFile) {
    using namespace vesk::platform::image;
    std::vector<std::string> paths;
    for (const char* name : {"Apple_iPhone_6.jpg", "Canon_DIGITAL_IXUS_400.jpg", "Fujifilm_FinePix_E500.jpg",
                             "Nikon_COOLPIX_P1.jpg", "Nikon_COOLPIX_P6000_GPS.jpg"})
        paths.push_back(sample(name));
    for (const char* name : {"gps.jpg", "icc.jpg", "lens.jpg", "plist-dict.jpg", "progressive.jpg", "unicode-be.jpg",
                             "truncated-scan.jpg", "jfif-only.jpg"})
        paths.push_back(fixture(name));
    for (const auto& path : paths) {
        SCOPED_TRACE(path);
        const auto head = jpegHeadMetadata(path);
        ASSERT_TRUE(head);
        const ExivMetadata whole = readWithExiv2(path), &fromHead = *head;
        EXPECT_TRUE(fromHead.recognized);
        EXPECT_EQ(fromHead.pixelWidth, whole.pixelWidth);
        EXPECT_EQ(fromHead.pixelHeight, whole.pixelHeight);
        EXPECT_EQ(fromHead.bigEndian, whole.bigEndian);
        EXPECT_EQ(fromHead.tiff, whole.tiff);
        EXPECT_EQ(fromHead.exif, whole.exif);
        EXPECT_EQ(fromHead.exifAux, whole.exifAux);
        EXPECT_EQ(fromHead.gps, whole.gps);
        EXPECT_EQ(fromHead.iptc, whole.iptc);
        EXPECT_EQ(fromHead.makers, whole.makers);
        EXPECT_EQ(fromHead.undecodedMakerNote, whole.undecodedMakerNote);
        EXPECT_EQ(fromHead.iccProfile, whole.iccProfile);
    }
}

// Exiv2 joins a profile's pieces by copying all of it per piece: 255 pieces
// of 64 KB took it seconds. Pieces past 2 MB are left out, and what comes
// after them is still read.
TEST(ExivReader, AProfileInHundredsOfPiecesIsCutShort) {
    using namespace vesk::platform::image;
    const std::string photo = readFile(sample("Canon_DIGITAL_IXUS_400.jpg"));
    std::string hostile = photo.substr(0, 2);
    for (int i = 1; i <= 255; ++i) {
        std::string piece = std::string("ICC_PROFILE", 12) + char(i) + char(255) + std::string(65500, 'y');
        const std::size_t size = piece.size() + 2;
        hostile += std::string{char(0xFF), char(0xE2), char(size >> 8), char(size & 0xFF)} + piece;
    }
    hostile += photo.substr(2);
    ScratchDir dir;
    const auto meta = jpegHeadMetadata(dir.write("pieces.jpg", hostile));
    ASSERT_TRUE(meta);
    EXPECT_GT(meta->iccProfile.size(), 1u << 20);
    EXPECT_LE(meta->iccProfile.size(), 2u << 20);
    EXPECT_EQ(meta->exif, readWithExiv2(sample("Canon_DIGITAL_IXUS_400.jpg")).exif);
    EXPECT_FALSE(meta->exif.empty());
}
