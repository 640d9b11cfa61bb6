// SPDX-License-Identifier: GPL-3.0-or-later
// Exiv2's writer over an in-memory copy: the original file is never handed to
// it, so nothing it does can reach the original. Its exceptions stop here.
#include "platform/image/MetadataCleaner.h"

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "platform/image/ExivReader.h"
#include "platform/image/InPlaceCleaner.h"
#include "platform/image/MultiPicture.h"

namespace vesk::platform::image {

namespace {

using Bytes = std::vector<std::uint8_t>;

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }
bool bytesStartWith(ByteSpan bytes, std::string_view prefix) {
    return bytes.size() >= prefix.size() && std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

// The XMP properties that say where: GPS in XMP, and the IPTC and Photoshop places.
bool isXmpPlace(const std::string& key) {
    for (std::string_view prefix : {"Xmp.exif.GPS", "Xmp.photoshop.City", "Xmp.photoshop.State",
                                    "Xmp.photoshop.Country", "Xmp.iptc.Location", "Xmp.iptc.CountryCode",
                                    "Xmp.iptcExt.LocationShown", "Xmp.iptcExt.LocationCreated"})
        if (startsWith(key, prefix)) return true;
    return false;
}

bool isIptcPlace(const std::string& key) {
    for (std::string_view place : {"Iptc.Application2.City", "Iptc.Application2.SubLocation",
                                   "Iptc.Application2.ProvinceState", "Iptc.Application2.CountryCode",
                                   "Iptc.Application2.CountryName", "Iptc.Application2.LocationCode",
                                   "Iptc.Application2.LocationName"})
        if (key == place) return true;
    return false;
}

// The maker-note values the details view reads as a location.
bool isMakerPlace(const Exiv2::Exifdatum& datum) {
    if (!Exiv2::ExifTags::isMakerGroup(datum.groupName())) return false;
    const std::string name = datum.tagName();
    return name == "Location" || name == "WorldTimeLocation" || name.find("GPS") != std::string::npos;
}

// What "all" keeps: how the picture is turned, its colour space and size, the
// fields EXIF requires of every file (which say nothing of anyone), and in a
// TIFF the fields that lay out its first image.
bool keptByAll(const Exiv2::Exifdatum& datum, CleanFormat format) {
    const std::string key = datum.key();
    for (std::string_view kept :
         {"Exif.Image.Orientation", "Exif.Photo.ColorSpace", "Exif.Photo.PixelXDimension", "Exif.Photo.PixelYDimension",
          "Exif.Image.InterColorProfile", "Exif.Image.XResolution", "Exif.Image.YResolution",
          "Exif.Image.ResolutionUnit", "Exif.Image.YCbCrPositioning", "Exif.Photo.ExifVersion",
          "Exif.Photo.ComponentsConfiguration", "Exif.Photo.FlashpixVersion"})
        if (key == kept) return true;
    if (format != CleanFormat::Tiff || datum.groupName() != "Image") return false;
    for (std::string_view layout :
         {"NewSubfileType", "ImageWidth", "ImageLength", "BitsPerSample", "Compression", "PhotometricInterpretation",
          "FillOrder", "StripOffsets", "SamplesPerPixel", "RowsPerStrip", "StripByteCounts", "XResolution",
          "YResolution", "PlanarConfiguration", "ResolutionUnit", "TransferFunction", "WhitePoint",
          "PrimaryChromaticities", "ColorMap", "Predictor", "TileWidth", "TileLength", "TileOffsets",
          "TileByteCounts", "ExtraSamples", "SampleFormat", "YCbCrCoefficients", "YCbCrSubSampling",
          "YCbCrPositioning", "ReferenceBlackWhite"})
        if (datum.tagName() == layout) return true;
    return false;
}

template <typename Container, typename Pred>
std::size_t eraseIf(Container& data, Pred pred) {
    std::size_t n = 0;
    for (auto it = data.begin(); it != data.end();) {
        if (pred(*it)) {
            it = data.erase(it);
            ++n;
        } else {
            ++it;
        }
    }
    return n;
}

// "GPS (6 tags)"; `units` is the plural, `unit` the singular.
void note(std::vector<std::string>& removed, std::size_t n, const char* what, const char* unit,
          const char* units = nullptr) {
    if (!n) return;
    const std::string plural = units ? units : std::string(unit) + "s";
    removed.push_back(std::string(what) + " (" + std::to_string(n) + " " + (n == 1 ? unit : plural) + ")");
}

// Extended XMP before the first scan, or segments after it that carry
// metadata of their own (further images no multi-picture index names): Exiv2
// rewrites neither, so such a file is refused rather than half cleaned.
// "All" drops every XMP segment after Exiv2 is done, the extended ones too.
std::optional<std::string> jpegLeftovers(ByteSpan file, CleanLevel level) {
    constexpr std::string_view exif("Exif\0\0", 6);
    constexpr std::string_view xmp = "http://ns.adobe.com/xap/1.0/";
    constexpr std::string_view extended = "http://ns.adobe.com/xmp/extension/";
    std::size_t at = 2;
    while (at + 4 <= file.size() && file[at] == 0xFF && file[at + 1] != 0xDA) {
        const std::size_t length = (std::size_t(file[at + 2]) << 8) | file[at + 3];
        if (level == CleanLevel::Location && file[at + 1] == 0xE1 && bytesStartWith(file.subspan(at + 4), extended))
            return "it holds extended XMP, which Exiv2 does not rewrite and places in it could not be taken out "
                   "alone; a copy without any metadata can be made";
        at += 2 + length;
    }
    // Inside coded data 0xFF is always followed by 0x00 or a restart marker,
    // so FF E1 past the first scan starts a segment of another image.
    for (; at + 4 < file.size(); ++at) {
        if (file[at] != 0xFF || file[at + 1] != 0xE1) continue;
        const ByteSpan body = file.subspan(at + 4);
        if (bytesStartWith(body, exif) || bytesStartWith(body, xmp) || bytesStartWith(body, extended))
            return "it holds further images with metadata of their own that no multi-picture index names";
    }
    return std::nullopt;
}

// Segments "all" leaves in a JPEG: JFIF, the new Exif, the colour profile,
// Adobe's colour transform flag and the multi-picture index (where the
// further images lie); the rest of the application segments and every
// comment go.
Bytes keepJpegDisplaySegments(const Bytes& file, std::size_t& dropped) {
    Bytes out(file.begin(), file.begin() + 2);
    std::size_t at = 2;
    while (at + 4 <= file.size() && file[at] == 0xFF) {
        const std::uint8_t marker = file[at + 1];
        const std::size_t length = (std::size_t(file[at + 2]) << 8) | file[at + 3];
        if (marker == 0xDA || length < 2 || at + 2 + length > file.size()) break;
        const ByteSpan body = ByteSpan(file).subspan(at + 4, length - 2);
        const bool kept = !((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE) ||
                          (marker == 0xE0 && bytesStartWith(body, std::string_view("JFIF\0", 5))) ||
                          (marker == 0xE1 && bytesStartWith(body, std::string_view("Exif\0\0", 6))) ||
                          (marker == 0xE2 && bytesStartWith(body, "ICC_PROFILE")) ||
                          (marker == 0xE2 && bytesStartWith(body, std::string_view("MPF\0", 4))) ||
                          (marker == 0xEE && bytesStartWith(body, "Adobe"));
        if (kept) out.insert(out.end(), file.begin() + at, file.begin() + at + 2 + length);
        else ++dropped;
        at += 2 + length;
    }
    out.insert(out.end(), file.begin() + at, file.end());
    return out;
}

// Chunks "all" leaves in a PNG: the picture, its colour and its pixel aspect;
// text, EXIF, time and unknown ancillary chunks go.
Bytes keepPngDisplayChunks(const Bytes& file, std::size_t& dropped) {
    Bytes out(file.begin(), file.begin() + 8);
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::size_t length = (std::size_t(file[at]) << 24) | (std::size_t(file[at + 1]) << 16) |
                                   (std::size_t(file[at + 2]) << 8) | file[at + 3];
        if (length > file.size() - at - 12) break;
        const std::string_view type(reinterpret_cast<const char*>(file.data() + at + 4), 4);
        bool kept = (type[0] & 0x20) == 0;  // a critical chunk
        for (std::string_view display : {"tRNS", "iCCP", "sRGB", "gAMA", "cHRM", "sBIT", "pHYs", "cICP", "bKGD",
                                         "acTL", "fcTL", "fdAT"})
            kept = kept || type == display;
        // Exiv2 writes the EXIF it kept (the orientation) as a text chunk.
        kept = kept || (type == "zTXt" && bytesStartWith(ByteSpan(file).subspan(at + 8), std::string_view(
                                                             "Raw profile type exif\0", 22)));
        if (kept) out.insert(out.end(), file.begin() + at, file.begin() + at + 12 + length);
        else ++dropped;
        at += 12 + length;
    }
    return out;
}

// The top-level box of `type` in a JP2 file: its offset and length.
std::optional<std::pair<std::size_t, std::size_t>> jp2Box(ByteSpan file, std::string_view type) {
    for (std::size_t at = 0; at + 8 <= file.size();) {
        const std::size_t length = (std::size_t(file[at]) << 24) | (std::size_t(file[at + 1]) << 16) |
                                   (std::size_t(file[at + 2]) << 8) | file[at + 3];
        if (length < 8 || length > file.size() - at) return std::nullopt;
        if (bytesStartWith(file.subspan(at + 4), type)) return std::pair(at, length);
        at += length;
    }
    return std::nullopt;
}

// One file, or one image of a multi-picture JPEG, through Exiv2's writer.
Result<CleanedImage> cleanOne(ByteSpan original, CleanFormat format, CleanLevel level, bool comment) {
    using R = Result<CleanedImage>;
    if (format == CleanFormat::Jpeg)
        if (auto why = jpegLeftovers(original, level)) return R::failure(*why);
    prepareExiv2Library();
    CleanedImage cleaned;
    try {
        auto image = Exiv2::ImageFactory::open(original.data(), static_cast<long>(original.size()));
        if (!image.get()) return R::failure("Exiv2 does not know the file's format");
        image->readMetadata();
        auto& exif = image->exifData();
        auto& xmp = image->xmpData();
        auto& iptc = image->iptcData();
        auto& removed = cleaned.removed;
        if (level == CleanLevel::Location) {
            note(removed, eraseIf(exif, [](const Exiv2::Exifdatum& d) { return d.groupName() == "GPSInfo"; }), "GPS",
                 "tag");
            eraseIf(exif, [](const Exiv2::Exifdatum& d) { return d.key() == "Exif.Image.GPSTag"; });
            note(removed, eraseIf(exif, isMakerPlace), "maker-note places", "tag");
            if (comment && eraseIf(exif, [](const Exiv2::Exifdatum& d) { return d.key() == "Exif.Photo.UserComment"; }))
                removed.push_back(kCommentNamingAPlace);
            note(removed, eraseIf(xmp, [](const Exiv2::Xmpdatum& d) { return isXmpPlace(d.key()); }), "XMP places",
                 "property", "properties");
            note(removed, eraseIf(iptc, [](const Exiv2::Iptcdatum& d) { return isIptcPlace(d.key()); }),
                 "IPTC places", "field");
        } else {
            const std::size_t thumbnail =
                eraseIf(exif, [](const Exiv2::Exifdatum& d) { return d.groupName() == "Thumbnail"; });
            note(removed, eraseIf(exif, [&](const Exiv2::Exifdatum& d) { return !keptByAll(d, format); }), "EXIF",
                 "tag");
            if (thumbnail) removed.push_back("thumbnail");
            note(removed, xmp.count(), "XMP", "property", "properties");
            note(removed, iptc.count(), "IPTC", "field");
            if (!image->comment().empty()) removed.push_back("comment");
            // A TIFF's packet is made again from the (now empty) properties:
            // clearing the packet there makes Exiv2 write the old one back.
            // The other writers take the packet as it stands.
            image->clearXmpData();
            if (format != CleanFormat::Tiff) image->clearXmpPacket();
            image->clearIptcData();
            image->clearComment();
        }
        image->writeMetadata();
        auto& io = image->io();
        if (io.open() != 0) return R::failure("Exiv2 could not hand back the cleaned copy");
        const long size = io.size();
        Exiv2::DataBuf buffer = io.read(size);
        io.close();
        if (buffer.size_ != size) return R::failure("Exiv2 could not hand back the cleaned copy");
        cleaned.bytes.assign(buffer.pData_, buffer.pData_ + buffer.size_);
    } catch (const std::exception& e) {
        return R::failure(std::string("Exiv2 could not write the copy: ") + e.what());
    } catch (...) {
        return R::failure("Exiv2 could not write the copy");
    }
    // Exiv2 writes a JP2's header box anew, its colour box as it sees it
    // (YCbCr becomes sRGB): the original's goes back, so the picture shows
    // as it did.
    if (format == CleanFormat::Jp2) {
        const auto mine = jp2Box(original, "jp2h");
        const auto its = jp2Box(cleaned.bytes, "jp2h");
        if (!mine || !its) return R::failure("the JPEG 2000 header box could not be found");
        Bytes bytes(cleaned.bytes.begin(), cleaned.bytes.begin() + its->first);
        bytes.insert(bytes.end(), original.begin() + mine->first, original.begin() + mine->first + mine->second);
        bytes.insert(bytes.end(), cleaned.bytes.begin() + its->first + its->second, cleaned.bytes.end());
        cleaned.bytes = std::move(bytes);
    }
    if (level == CleanLevel::All) {
        std::size_t dropped = 0;
        if (format == CleanFormat::Jpeg) cleaned.bytes = keepJpegDisplaySegments(cleaned.bytes, dropped);
        if (format == CleanFormat::Png) cleaned.bytes = keepPngDisplayChunks(cleaned.bytes, dropped);
        note(cleaned.removed, dropped, format == CleanFormat::Png ? "other chunks" : "other segments",
             format == CleanFormat::Png ? "chunk" : "segment");
    }
    return R::success(std::move(cleaned));
}

// What a further image still holds of what `level` removes, as Exiv2 reads
// it back; empty when nothing. (The first image is read back by the caller.)
std::string leftIn(const Bytes& jpeg, CleanLevel level) {
    try {
        auto image = Exiv2::ImageFactory::open(jpeg.data(), static_cast<long>(jpeg.size()));
        if (!image.get()) return "an image Exiv2 cannot read";
        image->readMetadata();
        for (const auto& d : image->exifData())
            if (d.groupName() == "GPSInfo" || (level == CleanLevel::All && !keptByAll(d, CleanFormat::Jpeg)))
                return d.key();
        for (const auto& d : image->xmpData())
            if (level == CleanLevel::All || isXmpPlace(d.key())) return d.key();
        for (const auto& d : image->iptcData())
            if (level == CleanLevel::All || isIptcPlace(d.key())) return d.key();
    } catch (...) {
        return "an image Exiv2 cannot read";
    }
    return {};
}

// Each image of a multi-picture JPEG cleaned alone and put back in its order
// (what lay between or after them goes), the index written again with
// where each now lies.
Result<CleanedImage> cleanImages(ByteSpan original, const MultiPicture& mp, CleanLevel level, bool comment) {
    using R = Result<CleanedImage>;
    CleanedImage out;
    std::vector<MultiPicture::Image> placed;
    for (std::size_t i = 0; i < mp.images.size(); ++i) {
        const std::string name = "image " + std::to_string(i + 1);
        auto one = cleanOne(original.subspan(mp.images[i].offset, mp.images[i].size), CleanFormat::Jpeg, level,
                            comment && i == 0);
        if (!one) return R::failure(i == 0 ? one.error() : name + " of the file: " + one.error());
        if (i > 0)
            if (const std::string left = leftIn(one->bytes, level); !left.empty())
                return R::failure(name + " of the file still held " + left);
        placed.push_back({out.bytes.size(), one->bytes.size()});
        out.bytes.insert(out.bytes.end(), one->bytes.begin(), one->bytes.end());
        for (auto& what : one->removed) out.removed.push_back(i == 0 ? what : name + ": " + what);
    }
    const auto index = multiPictureIndex(ByteSpan(out.bytes).first(placed[0].size));
    if (!index || index->count != mp.images.size())
        return R::failure("its multi-picture index did not come through Exiv2's writer");
    writeMultiPicture(out.bytes, *index, placed);
    return R::success(std::move(out));
}

}  // namespace

Result<CleanedImage> cleanWithExiv2(ByteSpan original, CleanFormat format, CleanLevel level, bool comment) {
    using R = Result<CleanedImage>;
    if (original.size() > kMaxCleanBytes)
        return R::failure("the file is larger than " + sizeText(kMaxCleanBytes) + ", the most Vesk cleans");
    if (format == CleanFormat::Heif || format == CleanFormat::JpegXl || format == CleanFormat::Cr3)
        return cleanInPlace(original, level, comment);
    if (format == CleanFormat::Jpeg) {
        auto mp = readMultiPicture(original);
        if (!mp) return R::failure(mp.error());
        if (*mp && (*mp)->images.size() > 1) return cleanImages(original, **mp, level, comment);
    }
    return cleanOne(original, format, level, comment);
}

}  // namespace vesk::platform::image
