// SPDX-License-Identifier: GPL-3.0-or-later
// The Exiv2 adapter. Exiv2 throws on bad data and logs on its own; here both
// stop: the log is muted once, and every tag is converted under its own catch
// so that one bad tag does not hide the others.
#include "platform/image/ExivReader.h"
#include "platform/image/EmbeddedPreview.h"
#include "platform/Versions.h"

#include <exiv2/exiv2.hpp>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <set>
#include <sstream>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/FileMapping.h"
#include "platform/Utf8.h"
#include "platform/image/TiffValue.h"
#include "platform/image/TiffValueCaps.h"
#include "platform/image/UserComment.h"

namespace vesk::platform::image {

std::string sizeText(std::uint64_t bytes) {
    if (bytes >= (10u << 20)) return std::to_string(bytes >> 20) + " MB";
    if (bytes >= (10u << 10)) return std::to_string(bytes >> 10) + " KB";
    return std::to_string(bytes) + " bytes";
}

void addBudgetNote(std::string& note, std::uint64_t n, const std::string& what) {
    if (n == 0) return;
    if (!note.empty()) note += ", ";
    note += std::to_string(n) + " " + what;
}

void addTagBudgetNotes(std::string& note, std::uint64_t textsCut, std::uint64_t tagsLeftOut) {
    addBudgetNote(note, textsCut, "tag texts cut to " + sizeText(kMaxTagTextBytes));
    addBudgetNote(note, tagsLeftOut,
                  "tags left out past " + sizeText(kMaxImageTextBytes) + " of values or " +
                      std::to_string(kMaxImageTags) + " tags");
}

namespace {

// What the budgets left out of one image, told in one line at the end.
struct Cuts {
    std::uint64_t textsCut = 0, tagsLeftOut = 0, tiffValuesHidden = 0, jpegSegmentsLeftOut = 0;
    bool jpegWalkStopped = false;
    std::uint64_t windowOf = 0;  // size of a file of which Exiv2 saw only a window

    std::string describe() const {
        std::string out;
        addTagBudgetNotes(out, textsCut, tagsLeftOut);
        addBudgetNote(out, tiffValuesHidden, "TIFF values past " + sizeText(kMaxExivTiffValueBytes) + " not read");
        addBudgetNote(out, jpegSegmentsLeftOut, "JPEG segments past their budget not read");
        if (jpegWalkStopped) {
            if (!out.empty()) out += ", ";
            out += "JPEG segments past the first " + std::to_string(kMaxJpegSegments) + " not read";
        }
        if (windowOf) {
            if (!out.empty()) out += ", ";
            out += "only the first " + sizeText(kMaxExivWindowBytes) + " of " + sizeText(windowOf) + " read";
        }
        return out;
    }
};

void quiet(int, const char*) {}

void prepareExiv2() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::LogMsg::setHandler(quiet);
        // Initialising the XMP toolkit once up front keeps later reads thread-safe.
        Exiv2::XmpParser::initialize();
    });
}

// TIFF field type of an Exiv2 type id, 0 for the ones that have none.
std::uint16_t tiffTypeOf(Exiv2::TypeId id) {
    switch (id) {
    case Exiv2::unsignedByte: return TIFF_BYTE;
    case Exiv2::asciiString:
    case Exiv2::string: return TIFF_ASCII;
    case Exiv2::unsignedShort: return TIFF_SHORT;
    case Exiv2::unsignedLong: return TIFF_LONG;
    case Exiv2::unsignedRational: return TIFF_RATIONAL;
    case Exiv2::signedByte: return TIFF_SBYTE;
    case Exiv2::undefined:
    case Exiv2::comment: return TIFF_UNDEFINED;
    case Exiv2::signedShort: return TIFF_SSHORT;
    case Exiv2::signedLong: return TIFF_SLONG;
    case Exiv2::signedRational: return TIFF_SRATIONAL;
    case Exiv2::tiffFloat: return TIFF_FLOAT;
    case Exiv2::tiffDouble: return TIFF_DOUBLE;
    case Exiv2::tiffIfd: return TIFF_IFD;
    case Exiv2::unsignedLongLong: return TIFF_LONG8;
    case Exiv2::signedLongLong: return TIFF_SLONG8;
    case Exiv2::tiffIfd8: return TIFF_IFD8;
    default: return 0;
    }
}

// Exiv2 names tags it does not know "0x002a"; they are shown by number.
std::string displayName(const std::string& exivName) {
    if (exivName.size() > 2 && exivName[0] == '0' && exivName[1] == 'x')
        return std::to_string(std::strtoul(exivName.c_str() + 2, nullptr, 16));
    return exivName;
}

// Tags of IFD0 that locate data rather than describe the image, and blobs
// that have their own sub-dictionary or are not metadata at all.
bool leftOutOfTiff(std::uint16_t tag) {
    switch (tag) {
    case 0x0111:  // StripOffsets
    case 0x0117:  // StripByteCounts
    case 0x0144:  // TileOffsets
    case 0x0145:  // TileByteCounts
    case 0x014A:  // SubIFDs
    case 0x0201:  // JPEGInterchangeFormat
    case 0x0202:  // JPEGInterchangeFormatLength
    case 0x02BC:  // XMLPacket
    case 0x83BB:  // IPTCNAA
    case 0x8649:  // ImageResources
    case 0x8769:  // ExifTag
    case 0x8773:  // InterColorProfile
    case 0x8825:  // GPSTag
    case 0xA005:  // InteroperabilityTag
    case 0xC4A5:  // PrintImageMatching
    case 0xC634:  // DNGPrivateData
        return true;
    default:
        return false;
    }
}

constexpr std::uint16_t kExifUserComment = 0x9286;
constexpr std::uint16_t kExifMakerNote = 0x927C;
constexpr std::uint16_t kExifInteroperability = 0xA005;

// The maker-note key for an Exiv2 maker group ("CanonCs" -> "{MakerCanon}").
std::string makerKey(const std::string& group) {
    static constexpr std::pair<std::string_view, std::string_view> kMakers[] = {
        {"Nikon", "{MakerNikon}"},       {"Canon", "{MakerCanon}"},     {"Fujifilm", "{MakerFuji}"},
        {"Pentax", "{MakerPentax}"},     {"Olympus", "{MakerOlympus}"}, {"Minolta", "{MakerMinolta}"},
        {"Sony", "{MakerSony}"},         {"Panasonic", "{MakerPanasonic}"}, {"Samsung", "{MakerSamsung}"},
        {"Sigma", "{MakerSigma}"},       {"Casio", "{MakerCasio}"},
    };
    for (const auto& [prefix, key] : kMakers)
        if (std::string_view(group).substr(0, prefix.size()) == prefix) return std::string(key);
    std::string stem;
    for (char c : group) {
        if (!std::isalpha(static_cast<unsigned char>(c))) break;
        stem += c;
    }
    return "{Maker" + (stem.empty() ? group : stem) + "}";
}

// Decimal degrees from degrees, minutes and seconds.
std::optional<Value> degrees(const Value& dms) {
    if (const double* d = dms.get<double>()) return Value(*d);
    const Array* parts = dms.get<Array>();
    if (!parts || parts->empty() || parts->size() > 3) return std::nullopt;
    double value = 0, scale = 1;
    for (const Value& part : *parts) {
        const double* d = part.get<double>();
        if (!d) return std::nullopt;
        value += *d / scale;
        scale *= 60;
    }
    return Value(value);
}

std::string asText(const Value& v) {
    if (const auto* s = v.get<std::string>()) return *s;
    if (const auto* i = v.get<std::int64_t>()) return std::to_string(*i);
    return describe(v);
}

// Maker-note tags that also belong in {ExifAux}, under its names: by Exiv2
// group and tag name.
constexpr std::array<std::array<std::string_view, 3>, 12> kAuxFromMaker{{
    {"Canon", "SerialNumber", "SerialNumber"},      {"Nikon3", "SerialNumber", "SerialNumber"},
    {"Fujifilm", "SerialNumber", "SerialNumber"},   {"Olympus", "SerialNumber", "SerialNumber"},
    {"OlympusEq", "SerialNumber", "SerialNumber"},  {"Pentax", "SerialNumber", "SerialNumber"},
    {"Canon", "OwnerName", "OwnerName"},            {"Canon", "FirmwareVersion", "Firmware"},
    {"Canon", "FileNumber", "ImageNumber"},         {"Canon", "LensModel", "LensModel"},
    {"OlympusEq", "LensModel", "LensModel"},        {"OlympusEq", "LensSerialNumber", "LensSerialNumber"},
}};

bool feedsAux(std::string_view group, std::string_view name) {
    for (const auto& [g, n, auxName] : kAuxFromMaker)
        if (g == group && n == name) return true;
    return name == "Lens" && (group == "Nikon3" || group == "CanonCs");
}

void addAuxFromMaker(std::string_view group, std::string_view name, const Value& value, Dictionary& aux) {
    for (const auto& [g, n, auxName] : kAuxFromMaker) {
        if (g != group || n != name) continue;
        aux[std::string(auxName)] = auxName == "SerialNumber" ? Value(asText(value)) : value;
        return;
    }
    if (group == "Nikon3" && name == "Lens") {
        aux["LensInfo"] = value;
    } else if (group == "CanonCs" && name == "Lens") {
        // Long focal length, short focal length, focal units per millimetre.
        const Array* parts = value.get<Array>();
        if (parts && parts->size() == 3) {
            const auto* lo = (*parts)[1].get<std::int64_t>();
            const auto* hi = (*parts)[0].get<std::int64_t>();
            const auto* units = (*parts)[2].get<std::int64_t>();
            if (lo && hi && units && *units > 0)
                aux["LensInfo"] = Value(Array{Value(double(*lo) / double(*units)), Value(double(*hi) / double(*units))});
        }
    }
}

// Exiv2 makes a tag's group and name as new strings each time it is asked
// (an unknown tag's name through a string stream), yet both follow from the
// tag's directory and number alone: each thread keeps them once made. The
// names kept are bounded; past the bound they are made as before.
class TagNames {
public:
    // What a group is to the conversion, told once per group rather than by
    // comparing its name for every tag.
    enum class Kind { Image, Photo, Gps, Maker, Other };
    struct Group {
        std::string name;
        Kind kind;
        std::string makerKey;  // "{MakerCanon}" for a maker group
    };

    const Group& group(const Exiv2::Exifdatum& datum) {
        const int ifd = datum.ifdId();
        // A key without a directory is named by its own text: not kept.
        if (ifd == kNoDirectory) return scratch_ = classify(datum.groupName());
        auto it = groups_.find(ifd);
        if (it == groups_.end()) it = groups_.emplace(ifd, classify(datum.groupName())).first;
        return it->second;
    }
    bool kept(const Group& group) const { return &group != &scratch_; }
    // The name shown: Exiv2's, or the number of a tag it does not know.
    std::string name(const Exiv2::Exifdatum& datum, std::uint16_t tag) {
        const int ifd = datum.ifdId();
        if (ifd == kNoDirectory) return displayName(datum.tagName());
        const std::uint64_t key = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(ifd)) << 16) | tag;
        if (auto it = names_.find(key); it != names_.end()) return it->second;
        std::string name = displayName(datum.tagName());
        if (names_.size() < kMaxNames) names_.emplace(key, name);
        return name;
    }

private:
    static Group classify(std::string name) {
        Kind kind = Kind::Other;
        if (name == "Image") kind = Kind::Image;
        else if (name == "Photo") kind = Kind::Photo;
        else if (name == "GPSInfo") kind = Kind::Gps;
        // Exiv2 answers this by walking its whole group table.
        else if (name != "MakerNote" && Exiv2::ExifTags::isMakerGroup(name)) kind = Kind::Maker;
        std::string maker = kind == Kind::Maker ? makerKey(name) : std::string();
        return {std::move(name), kind, std::move(maker)};
    }

    static constexpr int kNoDirectory = 0;  // Exiv2's ifdIdNotSet
    static constexpr std::size_t kMaxNames = 8192;
    Group scratch_;
    std::unordered_map<int, Group> groups_;
    std::unordered_map<std::uint64_t, std::string> names_;
};

TagNames& tagNames() {
    thread_local TagNames names;
    return names;
}

class Converter {
public:
    Converter(ExivMetadata& out, Exiv2::ByteOrder order, Cuts& cuts, const TiffValueCaps& caps,
              const PropertyKeyFilter& wanted)
        : out_(out), order_(order), cuts_(cuts), caps_(caps), wanted_(wanted) {}

    void exif(const Exiv2::Exifdatum& datum) {
        using Kind = TagNames::Kind;
        const TagNames::Group& g = names_.group(datum);
        const std::string& group = g.name;
        if (g.kind == Kind::Other) return;
        const std::uint16_t tag = datum.tag();
        const std::uint16_t type = tiffTypeOf(datum.typeId());
        const long size = datum.size();
        if (type == 0 || size <= 0) return;
        // Checked before anything is copied: past the budget a tag costs nothing.
        if (!admitted()) return;
        const bool be = order_ == Exiv2::bigEndian;
        // The converter's own buffer, kept from tag to tag.
        std::vector<std::uint8_t>& bytes = bytes_;
        bytes.clear();
        std::uint64_t cutBytes = 0;
        if (g.kind == Kind::Photo && tag == kExifMakerNote) {
            if (static_cast<std::size_t>(size) > kMaxMakerNoteBytes) return;
            bytes.resize(static_cast<std::size_t>(size));
            datum.copy(bytes.data(), order_);
            out_.undecodedMakerNote.assign(bytes.begin(), bytes.end());
            return;
        }
        const std::string name = names_.name(datum, tag);
        if (wanted_ && !asked(g, name)) return;
        if (g.kind == Kind::Photo && tag == kExifUserComment && static_cast<std::size_t>(size) > kMaxTagTextBytes &&
            static_cast<std::size_t>(size) <= kMaxUserCommentBytes) {
            // The comment file gets it whole; the tags show its first bytes
            // cut, as any long text.
            bytes.resize(static_cast<std::size_t>(size));
            datum.copy(bytes.data(), order_);
            std::string whole = decodeUserComment(bytes, be);
            std::string shown = decodeUserComment(ByteSpan(bytes).first(kMaxTagTextBytes), be);
            if (whole.empty() || shown.empty()) return;
            Value value(std::move(shown));
            markCut(value, bytes.size() - kMaxTagTextBytes);
            if (charge("UserComment", value)) {
                out_.exif["UserComment"] = std::move(value);
                out_.wholeUserComment = std::move(whole);
            }
            return;
        }
        if (static_cast<std::size_t>(size) > kMaxTagTextBytes) {
            // Only text is shown this long (longer lists and undefined data
            // never are): its first bytes are taken from Exiv2's own copy.
            const auto* text = dynamic_cast<const Exiv2::StringValueBase*>(&datum.value());
            if (!text || text->value_.size() <= kMaxTagTextBytes) return;
            bytes.assign(text->value_.begin(), text->value_.begin() + kMaxTagTextBytes);
            const auto inFile = caps_.textSizes.find({group, tag});
            cutBytes = (inFile != caps_.textSizes.end() ? inFile->second : text->value_.size()) - kMaxTagTextBytes;
        } else {
            bytes.resize(static_cast<std::size_t>(size));
            datum.copy(bytes.data(), order_);
        }

        if (g.kind == Kind::Photo && tag == kExifUserComment) {
            std::string text = decodeUserComment(bytes, be);
            if (text.empty()) return;
            Value value(std::move(text));
            if (cutBytes) markCut(value, cutBytes);
            if (charge("UserComment", value)) out_.exif["UserComment"] = std::move(value);
            return;
        }
        auto value = tiffValue(type, bytes, be, name);
        if (!value) return;
        if (cutBytes) markCut(*value, cutBytes);
        if (!charge(name, *value)) return;
        if (g.kind == Kind::Image) {
            if (!leftOutOfTiff(tag)) out_.tiff.insert_or_assign(name, std::move(*value));
        } else if (g.kind == Kind::Photo) {
            if (tag != kExifInteroperability) out_.exif.insert_or_assign(name, std::move(*value));
        } else if (g.kind == Kind::Gps) {
            std::string gpsName = name.rfind("GPS", 0) == 0 && name.size() > 3 ? name.substr(3) : name;
            if (gpsName == "Latitude" || gpsName == "Longitude" || gpsName == "DestLatitude" ||
                gpsName == "DestLongitude") {
                value = degrees(*value);
                if (!value) return;
            }
            out_.gps[gpsName] = std::move(*value);
        } else {
            addAuxFromMaker(group, name, *value, makerAux_);
            Dictionary& maker = makerDictionary(g);
            // A name already taken by another sub-directory keeps the first
            // value; the later one is shown under its sub-directory's name.
            // (try_emplace leaves the value alone when the name is taken.)
            if (!maker.try_emplace(name, std::move(*value)).second)
                maker.try_emplace(group + "." + name, std::move(*value));
        }
    }

    void xmp(const Exiv2::Xmpdatum& datum) {
        if (datum.groupName() != "aux") return;
        if (!admitted()) return;
        const std::string name = datum.tagName();
        std::string text = utf8::sanitize(datum.toString());
        if (text.empty()) return;
        if (!charge(name, Value(text))) return;
        if (name == "Lens" || name == "LensModel") {
            xmpAux_["LensModel"] = Value(text);
        } else if (name == "LensInfo") {
            // Four rationals written as "24/1 70/1 4/1 4/1".
            Array parts;
            const char* p = text.c_str();
            while (*p && parts.size() < 8) {
                char* end = nullptr;
                const double num = std::strtod(p, &end);
                if (end == p) break;
                double den = 1;
                if (*end == '/') {
                    p = end + 1;
                    den = std::strtod(p, &end);
                    if (end == p) break;
                }
                parts.emplace_back(den == 0 ? 0.0 : num / den);
                p = end;
                while (*p == ' ') ++p;
            }
            if (!parts.empty()) xmpAux_["LensInfo"] = Value(std::move(parts));
        } else if (name == "FlashCompensation") {
            const auto slash = text.find('/');
            const double num = std::strtod(text.c_str(), nullptr);
            const double den = slash == std::string::npos ? 1 : std::strtod(text.c_str() + slash + 1, nullptr);
            xmpAux_["FlashCompensation"] = Value(den == 0 ? 0.0 : num / den);
        } else if (name == "ImageNumber") {
            char* end = nullptr;
            const long long n = std::strtoll(text.c_str(), &end, 10);
            xmpAux_["ImageNumber"] = *end == '\0' ? Value(static_cast<std::int64_t>(n)) : Value(text);
        } else if (name == "LensID" || name == "LensSerialNumber" || name == "SerialNumber" ||
                   name == "OwnerName" || name == "Firmware") {
            xmpAux_[name] = Value(text);
        }
    }

    void iptc(const Exiv2::Iptcdatum& datum) {
        if (!admitted()) return;
        const std::string name = datum.tagName();
        if (wanted_ && !wanted_(kImagePropertyIPTCDictionary, name)) return;
        Value value;
        if (datum.typeId() == Exiv2::unsignedShort && datum.count() > 0) {
            value = Value(static_cast<std::int64_t>(datum.toLong(0)));
        } else {
            std::string text = utf8::sanitize(datum.toString());
            if (text.empty()) return;
            value = Value(std::move(text));
            if (std::string* s = value.get<std::string>(); s->size() > kMaxTagTextBytes) {
                const std::uint64_t cut = s->size() - kMaxTagTextBytes;
                *s = utf8::sanitize(std::string_view(*s).substr(0, kMaxTagTextBytes));
                markCut(value, cut);
            }
        }
        if (!charge(name, value)) return;
        auto it = out_.iptc.find(name);
        if (it == out_.iptc.end()) {
            out_.iptc[name] = name == "Keywords" ? Value(Array{std::move(value)}) : std::move(value);
        } else if (Array* list = it->second.get<Array>()) {
            if (list->size() < kMaxListLength) list->push_back(std::move(value));
        } else {
            it->second = Value(Array{it->second, std::move(value)});
        }
    }

    // XMP states the photographer's or the software's view of the lens; it
    // wins over what the camera wrote into its maker note.
    void finish() {
        out_.exifAux = makerAux_;
        for (auto& [k, v] : xmpAux_) out_.exifAux[k] = v;
    }

private:
    // Whether the caller asked for the tag. IFD0's values (other properties
    // are worked out from them), the GPS directory's (a position is read
    // with its references) and the maker note's that {ExifAux} is made from
    // are always made; they are few.
    bool asked(const TagNames::Group& g, const std::string& name) const {
        using Kind = TagNames::Kind;
        switch (g.kind) {
        case Kind::Photo: return wanted_(kImagePropertyExifDictionary, name);
        case Kind::Maker:
            // A name taken twice in one note is kept under "Group.Name" too.
            return feedsAux(g.name, name) || wanted_(g.makerKey, name) ||
                   wanted_(g.makerKey, g.name + "." + name);
        default: return true;
        }
    }

    // One more tag, unless the budget of tags or of text is spent.
    bool admitted() {
        if (spent_ || ++tags_ > kMaxImageTags) {
            ++cuts_.tagsLeftOut;
            return false;
        }
        return true;
    }

    // Charges a value as it will be rendered, with its key; past the budget
    // it and every later tag are left out.
    bool charge(const std::string& key, const Value& value) {
        textBytes_ += key.size() + describedSize(value);
        if (textBytes_ > kMaxImageTextBytes) spent_ = true;
        if (spent_) ++cuts_.tagsLeftOut;
        return !spent_;
    }

    void markCut(Value& value, std::uint64_t cutBytes) {
        if (std::string* s = value.get<std::string>()) *s += "<... " + sizeText(cutBytes) + " cut>";
        ++cuts_.textsCut;
    }

    // Tags come grouped: the last group's maker dictionary is kept at hand.
    Dictionary& makerDictionary(const TagNames::Group& group) {
        if (&group != lastGroup_ || !names_.kept(group)) {
            lastGroup_ = &group;
            lastMaker_ = &out_.makers[group.makerKey.empty() ? makerKey(group.name) : group.makerKey];
        }
        return *lastMaker_;
    }

    TagNames& names_ = tagNames();
    std::vector<std::uint8_t> bytes_;
    ExivMetadata& out_;
    Exiv2::ByteOrder order_;
    Cuts& cuts_;
    const TiffValueCaps& caps_;
    const PropertyKeyFilter& wanted_;
    std::size_t tags_ = 0, textBytes_ = 0;
    bool spent_ = false;
    Dictionary makerAux_, xmpAux_;
    const TagNames::Group* lastGroup_ = nullptr;
    Dictionary* lastMaker_ = nullptr;
};

template <typename Container, typename Fn>
void eachGuarded(const Container& container, Fn&& fn) {
    for (const auto& datum : container) {
        try {
            fn(datum);
        } catch (...) {
            // One unreadable tag: skip it, keep the others.
        }
    }
}

// What Exiv2 takes from a JPEG's segments: the first APP1 with the Exif id,
// the first with the XMP id, every APP2 with the ICC id (the profile's
// pieces, joined), APP13 (Photoshop's, joined), comments and the frame
// header. It skips every other segment, so a JPEG is handed to it as just
// these, read from the file in one pass, and never as more than a few MB.
constexpr std::string_view kExifId{"Exif\0\0", 6};
constexpr std::string_view kXmpId{"http://ns.adobe.com/xap/1.0/\0", 29};
constexpr std::string_view kIccId{"ICC_PROFILE", 11};
// Exiv2 copies the whole profile so far for each piece, and checks all of
// Photoshop's data so far for each APP13: a hostile 16 MB profile in 255
// pieces costs it seconds. Pieces beyond these totals are left out; real
// profiles and Photoshop data are far smaller.
constexpr std::size_t kMaxIccBytes = 2 << 20;
constexpr std::size_t kMaxPhotoshopBytes = 1 << 20;
constexpr std::size_t kMaxCommentBytes = 128 << 10;

// Exiv2 reads the pixel size from any of SOF0-3 and SOF5-15 (C8 and CC too).
bool isExiv2FrameMarker(std::uint8_t m) { return (m >= 0xC0 && m <= 0xC3) || (m >= 0xC5 && m <= 0xCF); }

// Exiv2's video readers are not asked: videos are no images, and its
// QuickTime reader never ends on an 81-byte file whose box claims a huge size
// (found by fuzzing; Exiv2 0.28 dropped these readers). The type numbers are
// written out because Exiv2 0.27's video headers need its internal ones.
bool isVideo(int type) {
    constexpr int kRiff = 20, kMatroska = 21, kQuickTime = 22, kAsf = 24;
    return type == kRiff || type == kMatroska || type == kQuickTime || type == kAsf;
}

// Only the properties of this namespace are shown; a packet that does not
// name it has nothing to give and is not parsed.
constexpr std::string_view kXmpAuxNamespace = "http://ns.adobe.com/exif/1.0/aux/";

template <typename Open>
ExivMetadata readImage(Open&& open, Cuts cuts, const TiffValueCaps& caps, std::string_view separateXmpPacket,
                       const PropertyKeyFilter& wanted) {
    prepareExiv2();
    ExivMetadata out;
    cuts.tiffValuesHidden += caps.droppedValues;
    try {
        auto image = open();
        if (!image.get()) return out;
        out.recognized = true;
        try {
            image->readMetadata();
        } catch (...) {
            // A truncated or corrupt file: keep what was read before the fault.
        }
        try {
            out.pixelWidth = static_cast<std::uint32_t>(std::max(0, image->pixelWidth()));
            out.pixelHeight = static_cast<std::uint32_t>(std::max(0, image->pixelHeight()));
        } catch (...) {
        }
        Exiv2::ByteOrder order = image->byteOrder();
        if (order == Exiv2::invalidByteOrder) order = Exiv2::littleEndian;
        out.bigEndian = order == Exiv2::bigEndian;
        Converter convert(out, order, cuts, caps, wanted);
        eachGuarded(image->exifData(), [&](const Exiv2::Exifdatum& d) { convert.exif(d); });
        eachGuarded(image->xmpData(), [&](const Exiv2::Xmpdatum& d) { convert.xmp(d); });
        if (separateXmpPacket.find(kXmpAuxNamespace) != std::string_view::npos) {
            Exiv2::XmpData xmp;
            try {
                Exiv2::XmpParser::decode(xmp, std::string(separateXmpPacket));
            } catch (...) {
            }
            eachGuarded(xmp, [&](const Exiv2::Xmpdatum& d) { convert.xmp(d); });
        }
        eachGuarded(image->iptcData(), [&](const Exiv2::Iptcdatum& d) { convert.iptc(d); });
        convert.finish();
        out.xmpPacket = separateXmpPacket.empty() ? image->xmpPacket() : std::string(separateXmpPacket);
        try {
            if (image->iccProfileDefined()) {
                const Exiv2::DataBuf* icc = image->iccProfile();
                if (icc && icc->pData_ && icc->size_ > 0) out.iccProfile.assign(icc->pData_, icc->pData_ + icc->size_);
            }
        } catch (...) {
        }
    } catch (...) {
        // Exiv2 does not know the format, or could not open the file.
    }
    out.budgetCut = cuts.describe();
    return out;
}

bool isTiffHeader(const std::uint8_t* p, std::size_t size) {
    return size >= 4 && ((p[0] == 'I' && p[1] == 'I' && p[2] == 42 && p[3] == 0) ||
                         (p[0] == 'M' && p[1] == 'M' && p[2] == 0 && p[3] == 42));
}

}  // namespace

namespace {

// Hands Exiv2 the file behind `fd` as readWithExiv2 does; `use` gets the
// opened image (or nothing) and the mapping, and runs under its catch.
template <typename Use>
bool withMappedImage(int fd, Cuts& cuts, TiffValueCaps& caps, Use&& use) {
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return false;
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    std::uint8_t magic[4] = {};
    const bool tiff = ::pread(fd, magic, sizeof magic, 0) == 4 && isTiffHeader(magic, sizeof magic);
    // A TIFF's IFDs and values may lie anywhere in it; Exiv2 reads them in
    // place (as it maps a file itself) and nothing else.
    const std::uint64_t window = tiff ? fileSize : std::min(fileSize, kMaxExivWindowBytes);
    if (window > static_cast<std::uint64_t>(std::numeric_limits<long>::max())) return false;
    // Private: pages are read only when Exiv2 touches them, and the few a
    // TIFF's capped counts change are copied, never written back.
    const FileMapping map(fd, static_cast<std::size_t>(window), tiff);
    if (!map.data()) return false;
    if (tiff) caps = capTiffValues({map.data(), map.size()}, kMaxTagTextBytes, kMaxExivTiffValueBytes);
    if (window < fileSize) cuts.windowOf = fileSize;
    use([&] {
        auto image = Exiv2::ImageFactory::open(map.data(), static_cast<long>(map.size()));
        if (image.get() && isVideo(image->imageType())) image.reset();
        return image;
    });
    return !map.shrank();
}

}  // namespace

ExivMetadata readWithExiv2(int fd, const PropertyKeyFilter& wanted) {
    Cuts cuts;
    TiffValueCaps caps;
    ExivMetadata out;
    const bool whole =
        withMappedImage(fd, cuts, caps, [&](auto open) { out = readImage(open, cuts, caps, {}, wanted); });
    if (!whole && out.recognized) out.budgetCut += (out.budgetCut.empty() ? "" : ", ") + std::string(kFileChangedNote);
    return out;
}

std::optional<EmbeddedPreview> embeddedPreview(const std::string& path, std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    prepareExiv2();
    Cuts cuts;
    TiffValueCaps caps;
    std::optional<EmbeddedPreview> out;
    const bool whole = withMappedImage(fd, cuts, caps, [&](auto open) {
        try {
            auto image = open();
            if (!image.get()) return;
            image->readMetadata();
            const Exiv2::PreviewManager previews(*image);
            const Exiv2::PreviewPropertiesList list = previews.getPreviewProperties();  // smallest first
            for (auto it = list.rbegin(); it != list.rend(); ++it) {
                if (it->size_ == 0 || it->size_ > maxBytes) continue;
                const Exiv2::PreviewImage picture = previews.getPreviewImage(*it);
                if (!picture.pData() || picture.size() == 0) continue;
                out = EmbeddedPreview{std::string(reinterpret_cast<const char*>(picture.pData()), picture.size()),
                                      it->width_, it->height_, 1};
                break;
            }
            if (!out) return;
            const auto o = image->exifData().findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
            if (o != image->exifData().end() && o->count() > 0) {
                const long v = o->toLong();
                if (v >= 1 && v <= 8) out->orientation = static_cast<int>(v);
            }
        } catch (...) {
            out.reset();  // a corrupt file: no preview rather than part of one
        }
    });
    ::close(fd);
    if (!whole) return std::nullopt;  // the file changed under the read
    return out;
}

ExivMetadata readWithExiv2(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return {};
    ExivMetadata out = readWithExiv2(fd);
    ::close(fd);
    return out;
}

ExivMetadata readJpegHeadWithExiv2(const FileBytes& file, const JpegHeader& jpeg, const PropertyKeyFilter& wanted) {
    std::vector<std::uint8_t> head{0xFF, JPEG_SOI}, payload;
    Cuts cuts;
    cuts.jpegWalkStopped = jpeg.segmentLimitReached;
    std::size_t exifAt = 0, exifSize = 0;
    std::string xmpPacket;
    bool exif = false, xmp = false, frame = false;
    std::size_t iccBytes = 0, photoshopBytes = 0, commentBytes = 0;
    const auto startsWith = [&](const JpegSegment& s, std::string_view id) {
        return s.length >= id.size() && file.read(s.offset, id.size(), payload) &&
               std::equal(payload.begin(), payload.end(), id.begin(), id.end());
    };
    // Read straight into place: the segments were copied twice before.
    const auto keep = [&](const JpegSegment& s) {
        const std::size_t at = head.size();
        const unsigned size = s.length + 2u;
        head.insert(head.end(), {0xFF, s.marker, static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)});
        head.resize(at + 4 + s.length);
        if (file.read(s.offset, std::span(head).subspan(at + 4))) return true;
        head.resize(at);
        return false;
    };
    // Room for what is usually kept, so that the head is seldom moved; at
    // most 1 MB ahead of what is read.
    std::size_t expected = 4;
    for (const JpegSegment& s : jpeg.segments) expected += s.length + 4u;
    head.reserve(std::min<std::size_t>(expected, 1 << 20));
    const auto within = [&](std::size_t& total, const JpegSegment& s, std::size_t limit) {
        if (total + s.length > limit) {
            ++cuts.jpegSegmentsLeftOut;
            return false;
        }
        total += s.length;
        return true;
    };
    for (const JpegSegment& s : jpeg.segments) {
        if (s.marker == JPEG_APP1) {
            if (!exif && startsWith(s, kExifId)) {
                exifAt = head.size() + 4 + kExifId.size();
                exif = keep(s);
                if (exif) exifSize = s.length - kExifId.size();
            } else if (!xmp && startsWith(s, kXmpId)) {
                // Exiv2 parses every XMP packet it meets, while only a few
                // properties of one namespace are shown: the packet is kept
                // from Exiv2 and parsed below only when it can hold them.
                xmp = true;
                if (file.read(s.offset + kXmpId.size(), s.length - kXmpId.size(), payload))
                    xmpPacket.assign(payload.begin(), payload.end());
            }
        } else if (s.marker == JPEG_APP2) {
            if (startsWith(s, kIccId) && within(iccBytes, s, kMaxIccBytes)) keep(s);
        } else if (s.marker == JPEG_APP13) {
            if (within(photoshopBytes, s, kMaxPhotoshopBytes)) keep(s);
        } else if (s.marker == JPEG_COM) {
            if (within(commentBytes, s, kMaxCommentBytes)) keep(s);
        } else if (isExiv2FrameMarker(s.marker) && !frame) {
            frame = keep(s);
        }
    }
    // The scan: Exiv2 reads no further.
    head.insert(head.end(), {0xFF, JPEG_SOS});
    TiffValueCaps caps;
    if (exif)
        caps = capTiffValues(std::span(head).subspan(exifAt, exifSize), kMaxTagTextBytes, kMaxExivTiffValueBytes);
    // Exiv2's memory source reads the bytes in place.
    return readImage([&] { return Exiv2::ImageFactory::open(head.data(), static_cast<long>(head.size())); }, cuts,
                     caps, xmpPacket, wanted);
}

std::vector<std::pair<std::string, std::string>> xmpProperties(std::string_view packet) {
    std::vector<std::pair<std::string, std::string>> out;
    if (packet.empty() || packet.size() > kMaxXmpPacketBytes) return out;
    prepareExiv2();
    Exiv2::XmpData xmp;
    try {
        if (Exiv2::XmpParser::decode(xmp, std::string(packet)) != 0) return out;
    } catch (...) {
        return out;
    }
    eachGuarded(xmp, [&](const Exiv2::Xmpdatum& datum) {
        // A structure's or an array's head holds no value of its own.
        if (out.size() >= kMaxXmpProperties || datum.count() == 0) return;
        std::string key = datum.key();
        if (key.starts_with("Xmp.")) key.erase(0, 4);
        std::string text = utf8::sanitize(datum.toString());
        if (text.size() > kMaxXmpTextBytes) text = utf8::sanitize(text.substr(0, kMaxXmpTextBytes));
        out.emplace_back(std::move(key), std::move(text));
    });
    return out;
}

ExivMetadata readExifBlockWithExiv2(std::vector<std::uint8_t> tiff, std::string_view xmpPacket,
                                    const PropertyKeyFilter& wanted) {
    if (tiff.size() > kMaxExifBlockBytes || !isTiffHeader(tiff.data(), tiff.size())) {
        // Still the XMP, which needs no TIFF structure.
        if (xmpPacket.empty()) return {};
        tiff.clear();
    }
    TiffValueCaps caps;
    if (!tiff.empty()) caps = capTiffValues(tiff, kMaxTagTextBytes, kMaxExivTiffValueBytes);
    ExivMetadata out = readImage(
        [&] {
            // No TIFF block: an empty XMP image carries the container's packet alone.
            if (tiff.empty()) return Exiv2::ImageFactory::create(Exiv2::ImageType::xmp);
            return Exiv2::ImageFactory::open(tiff.data(), static_cast<long>(tiff.size()));
        },
        Cuts{}, caps, xmpPacket, wanted);
    // The TIFF here is only a carrier: its IFD0 says nothing of the image's pixels.
    out.pixelWidth = out.pixelHeight = 0;
    return out;
}

namespace {

// A value as the text Exiv2's readers take for `type`: numbers separated by
// blanks, rationals as "n/d". Nothing for a type the value cannot be.
std::optional<std::string> exivText(Exiv2::TypeId type, const Value& value) {
    const bool rational = type == Exiv2::unsignedRational || type == Exiv2::signedRational;
    const bool integer = type == Exiv2::unsignedByte || type == Exiv2::unsignedShort || type == Exiv2::unsignedLong ||
                         type == Exiv2::signedByte || type == Exiv2::signedShort || type == Exiv2::signedLong;
    if (type == Exiv2::asciiString || type == Exiv2::string) {
        if (const auto* s = value.get<std::string>()) return *s;
        return std::nullopt;
    }
    if (!rational && !integer) return std::nullopt;
    std::string out;
    const auto number = [&](const Value& v) {
        std::string text;
        if (const auto* i = v.get<std::int64_t>()) {
            text = std::to_string(*i) + (rational ? "/1" : "");
        } else if (const auto* d = v.get<double>()) {
            if (!std::isfinite(*d)) return false;
            if (integer) {
                if (*d != std::floor(*d)) return false;
                text = std::to_string(static_cast<long long>(*d));
            } else {
                const Exiv2::Rational r = Exiv2::floatToRationalCast(static_cast<float>(*d));
                if (type == Exiv2::unsignedRational && r.first < 0) return false;
                text = std::to_string(r.first) + "/" + std::to_string(r.second);
            }
        } else {
            return false;
        }
        out += (out.empty() ? "" : " ") + text;
        return true;
    };
    if (const auto* list = value.get<Array>()) {
        if (list->empty() || list->size() > 64) return std::nullopt;
        for (const Value& v : *list)
            if (!number(v)) return std::nullopt;
    } else if (!number(value)) {
        return std::nullopt;
    }
    return out;
}

}  // namespace

std::optional<std::string> interpretedText(const std::string& exivKey, const Value& value) {
    prepareExiv2();
    try {
        const Exiv2::ExifKey key(exivKey);
        const Exiv2::TypeId type = key.defaultTypeId();
        const auto text = exivText(type, value);
        if (!text) return std::nullopt;
        auto exivValue = Exiv2::Value::create(type);
        if (!exivValue.get() || exivValue->read(*text) != 0) return std::nullopt;
        Exiv2::Exifdatum datum(key, exivValue.get());
        std::string printed = utf8::sanitize(datum.print(nullptr));
        while (!printed.empty() && (printed.back() == ' ' || printed.back() == '\0')) printed.pop_back();
        // Exiv2 prints unknown codes as "(17)"; that says no more than the raw value.
        if (printed.empty() || printed == *text || printed == "(" + *text + ")") return std::nullopt;
        return printed;
    } catch (...) {
        return std::nullopt;
    }
}

void prepareExiv2Library() { prepareExiv2(); }

}  // namespace vesk::platform::image

namespace vesk::platform {

std::string exiv2Version() { return Exiv2::versionString(); }

}  // namespace vesk::platform
