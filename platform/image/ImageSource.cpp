// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/ImageSource.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <vector>

#include "platform/Bytes.h"
#include "platform/image/AppleMakerNote.h"
#include "platform/image/ExivReader.h"
#include "platform/image/Cr3Reader.h"
#include "platform/image/HeifReader.h"
#include "platform/image/JxlReader.h"
#include "platform/image/IccProfile.h"
#include "platform/image/ImageKind.h"
#include "platform/image/Jp2Header.h"
#include "platform/image/JpegHeader.h"

namespace vesk::platform {
namespace {

using namespace image;

enum class Kind { Other, Jpeg, Tiff, Jp2, Heif, JpegXl, Cr3 };

Kind kindOf(const FileBytes& file) {
    std::vector<std::uint8_t> head;
    if (!file.read(0, std::min<std::uint64_t>(file.size(), kImageSniffBytes), head)) return Kind::Other;
    const auto kind = sniffImageKind(head);
    if (!kind) return Kind::Other;
    switch (*kind) {
    case ImageKind::Jpeg: return Kind::Jpeg;
    case ImageKind::Jpeg2000: return Kind::Jp2;
    case ImageKind::Tiff: return Kind::Tiff;
    // Exiv2 alone decides whether it reads a BigTIFF file.
    case ImageKind::BigTiff: return Kind::Other;
    case ImageKind::Heic:
    case ImageKind::Heif:
    case ImageKind::Avif: return Kind::Heif;
    case ImageKind::JpegXl: return Kind::JpegXl;
    case ImageKind::Cr3: return Kind::Cr3;
    }
    return Kind::Other;
}

const std::int64_t* integer(const Dictionary& d, const char* key) {
    auto it = d.find(key);
    if (it == d.end()) return nullptr;
    if (const auto* i = it->second.get<std::int64_t>()) return i;
    // A multi-valued field (BitsPerSample of RGB): the first component.
    if (const auto* list = it->second.get<Array>(); list && !list->empty()) return list->front().get<std::int64_t>();
    return nullptr;
}

const double* real(const Dictionary& d, const char* key) {
    auto it = d.find(key);
    return it == d.end() ? nullptr : it->second.get<double>();
}

const char* colorModelOfPhotometric(std::int64_t photometric) {
    switch (photometric) {
    case 0:
    case 1: return "Gray";
    case 2:
    case 3:
    case 6: return "RGB";
    case 5: return "CMYK";
    case 8:
    case 9:
    case 10: return "Lab";
    default: return nullptr;
    }
}

void putTiffImageFields(const Dictionary& tiff, Dictionary& props) {
    if (const auto* w = integer(tiff, "ImageWidth")) props["PixelWidth"] = Value(*w);
    if (const auto* h = integer(tiff, "ImageLength")) props["PixelHeight"] = Value(*h);
    if (const auto* bits = integer(tiff, "BitsPerSample")) props["Depth"] = Value(*bits);
    if (const auto* p = integer(tiff, "PhotometricInterpretation"))
        if (const char* model = colorModelOfPhotometric(*p)) props["ColorModel"] = Value(model);
    // ExtraSamples 1 (associated) and 2 (unassociated) are alpha.
    if (auto it = tiff.find("ExtraSamples"); it != tiff.end()) {
        bool alpha = false;
        if (const auto* one = it->second.get<std::int64_t>()) alpha = *one == 1 || *one == 2;
        if (const auto* many = it->second.get<Array>())
            for (const Value& v : *many)
                if (const auto* s = v.get<std::int64_t>(); s && (*s == 1 || *s == 2)) alpha = true;
        props["HasAlpha"] = Value(alpha);
    }
}

void putResolution(const Dictionary& tiff, Dictionary& props) {
    const double* x = real(tiff, "XResolution");
    const double* y = real(tiff, "YResolution");
    const std::int64_t* unit = integer(tiff, "ResolutionUnit");
    const std::int64_t inch = 2, centimetre = 3;
    const std::int64_t u = unit ? *unit : inch;  // TIFF's default unit
    if (u != inch && u != centimetre) return;
    const double factor = u == centimetre ? 2.54 : 1.0;
    if (x && *x > 0) props["DPIWidth"] = Value(*x * factor);
    if (y && *y > 0) props["DPIHeight"] = Value(*y * factor);
}

}  // namespace

std::unique_ptr<ImageSource> ImageSource::createWithPath(const std::string& path) {
    if (path.empty()) return nullptr;
    // Non-blocking so that a FIFO at the path cannot hold the open forever.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) return nullptr;
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    return std::unique_ptr<ImageSource>(new ImageSource(std::move(fd)));
}

ImageSource::~ImageSource() = default;

ImageSourceStatus ImageSource::status() const {
    FileBytes file(fd_.get());
    if (kindOf(file) != Kind::Other) return kImageStatusComplete;
    return readWithExiv2(fd_.get()).recognized ? kImageStatusComplete : kImageStatusUnknownType;
}

int imageSourceGetStatus(const ImageSource* source) {
    return source ? source->status() : kImageStatusInvalidData;
}

std::optional<Dictionary> ImageSource::copyPropertiesAtIndex(std::size_t index, const PropertyKeyFilter& wanted) const {
    if (index != 0) return std::nullopt;
    const FileBytes file(fd_.get());
    const Kind kind = kindOf(file);
    std::optional<JpegHeader> jpeg;
    if (kind == Kind::Jpeg) jpeg = readJpegHeader(file);
    // Exiv2 reads the descriptor we already hold, so the file it parses is
    // the one that was checked to be regular, even if the path changes meanwhile.
    // Containers Exiv2 0.27 cannot open give their EXIF block (and XMP)
    // to the same conversion a JPEG's Exif segment goes through.
    std::optional<HeifImage> heif;
    std::optional<JxlImage> jxl;
    std::optional<Cr3Image> cr3;
    if (kind == Kind::Heif) heif = readHeif(file);
    if (kind == Kind::JpegXl) jxl = readJxl(file);
    if (kind == Kind::Cr3) cr3 = readCr3(file);
    ExivMetadata exiv;
    std::string containerCut;
    if (jpeg) {
        exiv = readJpegHeadWithExiv2(file, *jpeg, wanted);
    } else if (heif) {
        exiv = readExifBlockWithExiv2(std::move(heif->exifTiff), heif->xmp, wanted);
        containerCut = heif->budgetCut;
    } else if (jxl) {
        exiv = readExifBlockWithExiv2(std::move(jxl->exifTiff), jxl->xmp, wanted);
        containerCut = jxl->budgetCut;
    } else if (cr3) {
        exiv = readExifBlockWithExiv2(std::move(cr3->exifTiff), cr3->xmp, wanted);
        containerCut = cr3->budgetCut;
    } else if (kind != Kind::Heif && kind != Kind::JpegXl && kind != Kind::Cr3) {
        exiv = readWithExiv2(fd_.get(), wanted);
    }
    budgetCut_ = exiv.budgetCut;
    if (!containerCut.empty()) budgetCut_ += (budgetCut_.empty() ? "" : ", ") + containerCut;
    makerNoteCut_.clear();
    notRead_ = heif ? heif->notRead : std::string();
    wholeUserComment_ = std::move(exiv.wholeUserComment);
    xmpPacket_ = std::move(exiv.xmpPacket);
    if (!exiv.recognized && kind == Kind::Other) return std::nullopt;

    Dictionary props;
    props["FileSize"] = Value(static_cast<std::int64_t>(file.size()));

    if (kind == Kind::Tiff || (kind == Kind::Other && exiv.tiff.count("ImageWidth")))
        putTiffImageFields(exiv.tiff, props);
    if (kind == Kind::Other && !props.count("PixelWidth") && exiv.pixelWidth && exiv.pixelHeight) {
        props["PixelWidth"] = Value(static_cast<std::int64_t>(exiv.pixelWidth));
        props["PixelHeight"] = Value(static_cast<std::int64_t>(exiv.pixelHeight));
    }

    std::optional<JfifSegment> jfif;
    if (jpeg) {
        jfif = jpeg->jfif;
        if (const auto& frame = jpeg->frame) {
            props["PixelWidth"] = Value(static_cast<std::int64_t>(frame->width));
            props["PixelHeight"] = Value(static_cast<std::int64_t>(frame->height));
            props["Depth"] = Value(static_cast<std::int64_t>(frame->precision));
            if (frame->components == 1) props["ColorModel"] = Value("Gray");
            if (frame->components == 3) props["ColorModel"] = Value("RGB");
            if (frame->components == 4) props["ColorModel"] = Value("CMYK");
        }
        if (jfif) {
            Dictionary j;
            Array version{Value(static_cast<std::int64_t>(jfif->versionMajor))};
            // 1.01 is [1, 0, 1]: the minor version is written as two digits.
            version.emplace_back(static_cast<std::int64_t>(jfif->versionMinor / 10));
            if (jfif->versionMinor % 10) version.emplace_back(static_cast<std::int64_t>(jfif->versionMinor % 10));
            j["JFIFVersion"] = Value(std::move(version));
            j["XDensity"] = Value(static_cast<std::int64_t>(jfif->xDensity));
            j["YDensity"] = Value(static_cast<std::int64_t>(jfif->yDensity));
            j["DensityUnit"] = Value(static_cast<std::int64_t>(jfif->densityUnit));
            if (jpeg->frame) j["IsProgressive"] = Value(jpeg->frame->progressive());
            props[kImagePropertyJFIFDictionary] = Value(std::move(j));
        }
    } else if (heif) {
        // Without a primary image libheif could read there is nothing to say of pixels.
        if (heif->width && heif->height) {
            props["PixelWidth"] = Value(static_cast<std::int64_t>(heif->width));
            props["PixelHeight"] = Value(static_cast<std::int64_t>(heif->height));
            if (heif->depth) props["Depth"] = Value(static_cast<std::int64_t>(*heif->depth));
            props["ColorModel"] = Value(heif->monochrome ? "Gray" : "RGB");
            props["HasAlpha"] = Value(heif->hasAlpha);
        }
        if (exiv.iccProfile.empty()) exiv.iccProfile.assign(heif->iccProfile.begin(), heif->iccProfile.end());
    } else if (jxl) {
        if (jxl->width && jxl->height) {
            props["PixelWidth"] = Value(static_cast<std::int64_t>(jxl->width));
            props["PixelHeight"] = Value(static_cast<std::int64_t>(jxl->height));
        }
        if (jxl->depth) props["Depth"] = Value(static_cast<std::int64_t>(*jxl->depth));
    } else if (cr3) {
        // The main image's size from its track; IFD0's when no track says.
        if (cr3->width && cr3->height) {
            props["PixelWidth"] = Value(static_cast<std::int64_t>(cr3->width));
            props["PixelHeight"] = Value(static_cast<std::int64_t>(cr3->height));
        } else {
            putTiffImageFields(exiv.tiff, props);
        }
    } else if (kind == Kind::Jp2) {
        if (const auto jp2 = readJp2Header(file)) {
            props["PixelWidth"] = Value(static_cast<std::int64_t>(jp2->width));
            props["PixelHeight"] = Value(static_cast<std::int64_t>(jp2->height));
            if (jp2->depth) props["Depth"] = Value(static_cast<std::int64_t>(*jp2->depth));
            if (jp2->colorModel) props["ColorModel"] = Value(*jp2->colorModel);
            props["HasAlpha"] = Value(jp2->hasAlpha);
        }
    }

    // Density: JFIF when it gives a real unit, else the TIFF resolution.
    if (jfif && (jfif->densityUnit == 1 || jfif->densityUnit == 2) && jfif->xDensity && jfif->yDensity) {
        const double factor = jfif->densityUnit == 2 ? 2.54 : 1.0;
        props["DPIWidth"] = Value(jfif->xDensity * factor);
        props["DPIHeight"] = Value(jfif->yDensity * factor);
    } else {
        putResolution(exiv.tiff, props);
    }
    if (const auto* o = integer(exiv.tiff, "Orientation"); o && *o >= 1 && *o <= 8) props["Orientation"] = Value(*o);
    if (!exiv.iccProfile.empty())
        if (auto name = iccProfileDescription(exiv.iccProfile)) props["ProfileName"] = Value(std::move(*name));

    if (!exiv.tiff.empty()) props[kImagePropertyTIFFDictionary] = Value(std::move(exiv.tiff));
    if (!exiv.exif.empty()) props[kImagePropertyExifDictionary] = Value(std::move(exiv.exif));
    if (!exiv.exifAux.empty()) props[kImagePropertyExifAuxDictionary] = Value(std::move(exiv.exifAux));
    if (!exiv.gps.empty()) props[kImagePropertyGPSDictionary] = Value(std::move(exiv.gps));
    if (!exiv.iptc.empty()) props[kImagePropertyIPTCDictionary] = Value(std::move(exiv.iptc));
    for (auto& [key, maker] : exiv.makers)
        if (!maker.empty()) props[key] = Value(std::move(maker));
    if (!exiv.undecodedMakerNote.empty()) {
        auto apple = readAppleMakerNote(exiv.undecodedMakerNote);
        // The note's reader names what a budget refused under a key of its
        // own: that is for the log, not for the dictionary.
        if (apple) {
            if (auto cut = apple->find(kAppleMakerNoteBudgetCutsKey); cut != apple->end()) {
                if (const auto* text = cut->second.get<std::string>()) makerNoteCut_ = *text;
                apple->erase(cut);
            }
        }
        if (apple && !apple->empty()) props[kImagePropertyMakerAppleDictionary] = Value(std::move(*apple));
    }
    if (file.changed() && budgetCut_.find(kFileChangedNote) == std::string::npos)
        budgetCut_ += (budgetCut_.empty() ? "" : ", ") + std::string(kFileChangedNote);
    return props;
}

}  // namespace vesk::platform
