// SPDX-License-Identifier: GPL-3.0-or-later
#include "inspector/Summary.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <utility>

#include "inspector/CodeSummary.h"
#include "inspector/ImageReport.h"
#include "inspector/ReportText.h"
#include "platform/FileSystem.h"
#include "platform/PropertyList.h"
#include "platform/Utf8.h"
#include "platform/image/ExivReader.h"
#include "platform/image/ImageSource.h"

namespace vesk {

namespace pf = vesk::platform;

namespace {

// Deeper nesting than a maker note's decoded lists is shown as one row.
constexpr int kMaxRowDepth = 4;
// A tree of more rows than this is no longer read, and a list widget slows to
// a crawl; the report's own budgets keep real files far below it.
constexpr std::size_t kMaxRows = 20000;
// A cell shows this much of a value; the report's fields keep all of it.
constexpr std::size_t kMaxCellBytes = 4096;

std::string cell(std::string text) {
    if (text.size() <= kMaxCellBytes) return text;
    const std::size_t cut = text.size() - kMaxCellBytes;
    return pf::utf8::sanitize(std::string_view(text).substr(0, kMaxCellBytes)) + "… (" + std::to_string(cut) +
           " more bytes)";
}

std::string trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

// "%.*f" without the zeros a person would not write: 8.0 -> "8", 2.50 -> "2.5".
std::string decimal(double value, int places) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", places, value);
    std::string text = buf;
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') text.pop_back();
        if (text.back() == '.') text.pop_back();
    }
    if (text == "-0") text = "0";
    return text;
}

// Megapixels keep their one decimal: "8.0 MP".
std::string megapixels(double pixels) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.1f", pixels / 1e6);
    return buf;
}

const pf::Dictionary* sub(const pf::Dictionary& d, const char* key) {
    auto it = d.find(key);
    return it == d.end() ? nullptr : it->second.get<pf::Dictionary>();
}

const pf::Value* find(const pf::Dictionary* d, const std::string& key) {
    if (!d) return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
}

// A number, or the first of a list of numbers (ISOSpeedRatings is a list).
std::optional<double> number(const pf::Value* v) {
    if (!v) return std::nullopt;
    if (const auto* i = v->get<std::int64_t>()) return static_cast<double>(*i);
    if (const auto* d = v->get<double>()) return std::isfinite(*d) ? std::optional<double>(*d) : std::nullopt;
    if (const auto* a = v->get<pf::Array>(); a && !a->empty()) return number(&a->front());
    return std::nullopt;
}

// Text that says something: blanks and NULs around it trimmed, nothing when empty.
std::optional<std::string> text(const pf::Value* v) {
    if (!v) return std::nullopt;
    const auto* s = v->get<std::string>();
    if (!s) return std::nullopt;
    std::string t = trimmed(*s);
    if (t.empty()) return std::nullopt;
    return t;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (prefix.size() > text.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

// The maker dictionaries, in the dictionary's order.
std::vector<std::pair<std::string, const pf::Dictionary*>> makers(const pf::Dictionary& properties) {
    std::vector<std::pair<std::string, const pf::Dictionary*>> out;
    for (const auto& [key, value] : properties)
        if (key.rfind("{Maker", 0) == 0)
            if (const auto* d = value.get<pf::Dictionary>()) out.emplace_back(key, d);
    return out;
}

// Canon's compact cameras write the ISO they used into their note only: the
// shot-info base ISO (a logarithmic code, 2^(n/32) * 100/32) times the
// automatic ISO factor (2^(n/32), in percent); the camera settings' code
// (16-19 for ISO 50-400) where it names a fixed speed.
std::optional<double> canonIso(const pf::Dictionary* canon) {
    if (!canon) return std::nullopt;
    if (auto base = number(find(canon, "CanonSi.ISOSpeed")); base && *base > 0 && *base < 1024) {
        const double autoCode = number(find(canon, "AutoISO")).value_or(0);
        const double autoFactor = autoCode > -1024 && autoCode < 1024 ? std::pow(2.0, autoCode / 32) : 1;
        return std::round(std::pow(2.0, *base / 32) * 100 / 32 * autoFactor);
    }
    if (auto code = number(find(canon, "ISOSpeed")); code && *code >= 16 && *code <= 19)
        return 50 * std::pow(2.0, *code - 16);
    return std::nullopt;
}

// "Canon" + "Canon DIGITAL IXUS 400" names the maker once; "NIKON
// CORPORATION" + "NIKON D70" too.
std::string cameraText(const std::optional<std::string>& make, const std::optional<std::string>& model) {
    if (!model) return make.value_or("");
    if (!make) return *model;
    const std::string firstWord = make->substr(0, make->find(' '));
    if (startsWithIgnoringCase(*model, *make) || startsWithIgnoringCase(*model, firstWord)) return *model;
    return *make + " " + *model;
}

// "2015:04:10 20:12:23" -> "2015-04-10 20:12:23", the offset appended.
std::string dateText(const std::string& exifDate, const std::optional<std::string>& offset) {
    std::string out = exifDate;
    if (out.size() >= 10 && out[4] == ':' && out[7] == ':') {
        out[4] = '-';
        out[7] = '-';
    }
    if (offset) out += " " + *offset;
    return out;
}

// A value's own text on one line: a list or dictionary's indentation folded.
std::string oneLine(const pf::Value& value) {
    const std::string full = pf::describe(value);
    std::string out;
    out.reserve(full.size());
    bool blank = false;
    for (char c : full) {
        if (c == '\n' || c == ' ' || c == '\t') {
            blank = true;
            continue;
        }
        if (blank && !out.empty() && out.back() != '(' && out.back() != '{' && c != ')' && c != '}') out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

// Apple maker-note tags the reader leaves as numbers but whose meaning is
// publicly documented (ExifTool's Apple table and the names in its notes).
const char* appleTagName(std::string_view number) {
    static constexpr std::pair<std::string_view, const char*> kNames[] = {
        {"9", "SISMethod"},
        {"13", "SphereHealthAverageCurrent"},
        {"14", "SphereMotionDataStatus"},
        {"16", "SphereStatus"},
        {"18", "QRMOutputType"},
        {"19", "SphereExternalForceOffset"},
        {"22", "PhotosOriginatingSignature"},
        {"24", "PhotosRenderOriginatingSignature"},
        {"27", "PhotosRenderEffect"},
        {"28", "BracketedCaptureSequenceNumber"},
        {"30", "OriginatingAppID"},
        {"31", "PhotosAppFeatureFlags"},
        {"34", "ARKitPhoto"},
        {"35", "AFPerformance"},
        {"36", "AFExternalOffset"},
        {"40", "UBMethod"},
        {"41", "SpatialOverCaptureGroupIdentifier"},
        {"42", "iCloudServerSoftwareVersion"},
        {"43", "PhotoIdentifier"},
        {"44", "SpatialOverCaptureImageType"},
        {"45", "CCT"},
        {"46", "ApsMode"},
        {"47", "FocusPosition"},
        {"49", "StillImageProcessingHomography"},
        {"50", "IntelligentDistortionCorrection"},
        {"51", "NRFStatus"},
        {"52", "NRFInputBracketCount"},
        {"53", "NRFRegisteredBracketCount"},
        {"54", "LuxLevel"},
        {"55", "LastFocusingMethod"},
        {"57", "TimeOfFlightAFEstimatorROIType"},
        {"58", "NRFSRLStatus"},
        {"59", "SystemPressureLevel"},
        {"60", "CameraControlsStatisticsMaster"},
        {"61", "AFConfidence"},
        {"62", "ColorCorrectionMatrix"},
        {"63", "GreenGhostMitigationStatus"},
        {"67", "SemanticStyleToneBias"},
        {"68", "SemanticStyleWarmthBias"},
        {"70", "TimeOfFlightAFEstimatorContainsBlindSpot"},
        {"71", "LeaderFollowerAFLeaderDepth"},
        {"72", "LeaderFollowerAFLeaderFocusMethod"},
        {"73", "LeaderFollowerAFLeaderConfidence"},
        {"74", "LeaderFollowerAFLeaderROIType"},
        {"75", "ZeroShutterLagFailureReason"},
        {"76", "TimeOfFlightAFEstimatorMSPMeasuredDepth"},
        {"77", "TimeOfFlightAFEstimatorMSPSensorConfidence"},
        {"78", "Camera"},
    };
    for (const auto& [n, name] : kNames)
        if (n == number) return name;
    return nullptr;
}

// A lens known only by its range: LensInfo or LensSpecification, the
// shortest and longest focal lengths, then the widest apertures at each
// (0 when unknown): "7.4–22.2 mm", "24–70 mm f/2.8".
std::optional<std::string> lensRange(const pf::Value* v) {
    const auto* parts = v ? v->get<pf::Array>() : nullptr;
    if (!parts || parts->size() < 2) return std::nullopt;
    const auto lo = number(&(*parts)[0]), hi = number(&(*parts)[1]);
    if (!lo || !hi || *lo <= 0 || *hi < *lo) return std::nullopt;
    std::string out = decimal(*lo, 1);
    if (*hi - *lo >= 0.05) out += "–" + decimal(*hi, 1);
    out += " mm";
    if (parts->size() >= 4) {
        const auto fLo = number(&(*parts)[2]), fHi = number(&(*parts)[3]);
        if (fLo && *fLo > 0) {
            out += " f/" + decimal(*fLo, 1);
            if (fHi && *fHi - *fLo >= 0.05) out += "–" + decimal(*fHi, 1);
        }
    }
    return out;
}

// The Exiv2 key of a dictionary key, for the groups whose names are Exiv2's.
std::optional<std::string> exivKey(const std::string& group, const std::string& key) {
    if (group == pf::kImagePropertyExifDictionary) return "Exif.Photo." + key;
    if (group == pf::kImagePropertyTIFFDictionary) return "Exif.Image." + key;
    if (group == pf::kImagePropertyGPSDictionary) return "Exif.GPSInfo.GPS" + key;
    return std::nullopt;
}

// How a person reads a value with no better reading.
std::string plainText(const pf::Value& value) {
    if (const auto* s = value.get<std::string>()) return trimmed(*s);
    if (const auto* i = value.get<std::int64_t>()) return std::to_string(*i);
    if (const auto* d = value.get<double>()) return decimal(*d, 4);
    if (const auto* b = value.get<bool>()) return *b ? "yes" : "no";
    if (const auto* data = value.get<pf::Data>()) return std::to_string(data->size()) + (data->size() == 1 ? " byte" : " bytes");
    if (const auto* a = value.get<pf::Array>()) {
        std::string out;
        for (const auto& item : *a) {
            if (!out.empty()) out += ", ";
            out += plainText(item);
            if (out.size() > 4096) break;
        }
        return out;
    }
    return oneLine(value);
}

std::string readableValue(const pf::Dictionary& properties, const std::string& group, const std::string& key,
                          const pf::Value& value) {
    const auto n = number(&value);
    if (group.empty()) {
        if (key == "FileSize" && n && *n >= 0) return fileSizeText(static_cast<std::uint64_t>(*n));
        if ((key == "PixelWidth" || key == "PixelHeight") && n) return decimal(*n, 0) + " px";
        if ((key == "DPIWidth" || key == "DPIHeight") && n) return decimal(*n, 0) + " dpi";
        if (key == "Depth" && n) return decimal(*n, 0) + " bits per component";
        if (key == "Orientation")
            if (auto text = pf::image::interpretedText("Exif.Image.Orientation", value)) return *text;
    }
    if (group == pf::kImagePropertyExifDictionary && n && !value.is<pf::Array>()) {
        if (key == "ExposureTime") return exposureTimeText(*n);
        if (key == "FNumber") return fNumberText(*n);
        if (key == "Flash" && value.is<std::int64_t>()) return flashText(*value.get<std::int64_t>());
        // Exiv2 would print the binary fraction of a real ("+1326429/1000000 EV").
        if (key == "ExposureBiasValue") return (*n > 0 ? "+" : "") + decimal(*n, 2) + " EV";
    }
    if ((group == pf::kImagePropertyExifDictionary && key == "LensSpecification") ||
        (group == pf::kImagePropertyExifAuxDictionary && key == "LensInfo"))
        if (auto range = lensRange(&value)) return *range;
    if (group == pf::kImagePropertyGPSDictionary && (key == "Latitude" || key == "Longitude") && n) {
        const auto* gps = sub(properties, pf::kImagePropertyGPSDictionary);
        const auto ref = text(find(gps, key + "Ref"));
        const bool negative = ref && (*ref == "S" || *ref == "W");
        return dmsText(negative ? -*n : *n, key == "Latitude");
    }
    if (auto exiv = exivKey(group, key))
        if (auto interpreted = pf::image::interpretedText(*exiv, value)) return trimmed(*interpreted);
    return plainText(value);
}

void addRows(const pf::Dictionary& properties, const std::string& group, const std::string& prefix,
             const pf::Dictionary& dict, int depth, std::vector<PropertyRow>& rows,
             const std::function<bool(const PropertyRow&)>& wanted) {
    for (const auto& [key, value] : dict) {
        if (rows.size() >= kMaxRows) return;
        const std::string path = prefix.empty() ? key : prefix + "." + key;
        if (const auto* nested = value.get<pf::Dictionary>(); nested && depth < kMaxRowDepth) {
            addRows(properties, group, path, *nested, depth + 1, rows, wanted);
            continue;
        }
        PropertyRow row;
        row.group = group;
        row.key = path;
        row.name = path;
        if (group == pf::kImagePropertyMakerAppleDictionary && prefix.empty())
            if (const char* name = appleTagName(key)) row.name = std::string(name) + " (" + key + ")";
        if (wanted && !wanted(row)) continue;
        row.readable = cell(readableValue(properties, group, key, value));
        row.raw = cell(oneLine(value));
        rows.push_back(std::move(row));
    }
}

}  // namespace

// ---- formatting ----

std::string exposureTimeText(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0) return decimal(seconds, 4) + " s";
    if (seconds < 1) {
        const double inverse = 1 / seconds;
        const double whole = std::round(inverse);
        // Short times are written as fractions; 0.3 s is not 1/3 s.
        if (seconds < 0.25 || std::fabs(inverse - whole) < 0.01 * whole) return "1/" + decimal(whole, 0) + " s";
    }
    return decimal(seconds, 1) + " s";
}

std::string fNumberText(double f) { return "f/" + decimal(f, 1); }

std::string focalLengthText(double mm, std::optional<double> in35mm) {
    std::string out = decimal(mm, 1) + " mm";
    if (in35mm && *in35mm > 0 && std::fabs(*in35mm - mm) >= 0.5) out += " (" + decimal(*in35mm, 0) + " mm in 35 mm)";
    return out;
}

std::string flashText(std::int64_t flash) {
    if (flash < 0 || flash > 0xFFFF) return std::to_string(flash);
    if (flash & 0x20) return "No flash function";
    const bool fired = flash & 0x01;
    std::string out;
    switch ((flash >> 3) & 0x03) {
    case 1: out = "On, "; break;
    case 2: out = "Off, "; break;
    case 3: out = "Auto, "; break;
    default: break;
    }
    out += fired ? "fired" : "did not fire";
    if (out.size() > 0 && out[0] >= 'a') out[0] = static_cast<char>(out[0] - 'a' + 'A');
    if (flash & 0x40) out += ", red-eye reduction";
    if (fired && ((flash >> 1) & 0x03) == 2) out += ", return not detected";
    if (fired && ((flash >> 1) & 0x03) == 3) out += ", return detected";
    return out;
}

std::string dmsText(double degrees, bool latitude) {
    if (!std::isfinite(degrees) || std::fabs(degrees) > 360) return decimal(degrees, 6) + "°";
    const char hemisphere = latitude ? (degrees < 0 ? 'S' : 'N') : (degrees < 0 ? 'W' : 'E');
    // Counted in hundredths of a second, so that 59.996″ carries into the minute.
    const auto hundredths = static_cast<long long>(std::llround(std::fabs(degrees) * 360000.0));
    const long long d = hundredths / 360000;
    const long long m = hundredths / 6000 % 60;
    const long long s = hundredths % 6000;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%lld°%lld′%lld.%02lld″ %c", d, m, s / 100, s % 100, hemisphere);
    return buf;
}

std::string positionDmsText(const Position& p) { return dmsText(p.latitude, true) + ", " + dmsText(p.longitude, false); }

std::string positionDecimalText(const Position& p) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%.6f, %.6f", p.latitude, p.longitude);
    return buf;
}

std::string fileSizeText(std::uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " bytes";
    if (bytes < 1024 * 1024) return decimal(static_cast<double>(bytes) / 1024, bytes < 10 * 1024 ? 1 : 0) + " KB";
    if (bytes < 1024ull * 1024 * 1024) return decimal(static_cast<double>(bytes) / (1024 * 1024), 1) + " MB";
    return decimal(static_cast<double>(bytes) / (1024.0 * 1024 * 1024), 1) + " GB";
}

// ---- summaries ----

namespace {

// Whether a key of a comment's property list names a place or a person:
// "city", "Country", "place", "ownerName", "people"...
// Key words of a property list's keys that name a place, and a person.
constexpr const char* kPlaceWords[] = {"city",    "country", "state",    "province",  "place", "location",
                                       "address", "street",  "latitude", "longitude", "gps"};
constexpr const char* kPersonWords[] = {"person", "people", "owner", "author", "artist", "creator", "name"};

bool keyHasWord(std::string key, bool persons) {
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    const auto in = [&](const auto& words) {
        return std::any_of(std::begin(words), std::end(words),
                           [&](const char* word) { return key.find(word) != std::string::npos; });
    };
    return in(kPlaceWords) || (persons && in(kPersonWords));
}

// Whether a property list value holds a key that names a place (or, with
// `persons`, a person), at any depth (the parser's budgets bound the list).
bool holdsNamed(const pf::Value& value, bool persons, int depth = 0) {
    if (depth > 32) return false;
    if (const auto* dict = value.get<pf::Dictionary>()) {
        for (const auto& [key, inner] : *dict)
            if (keyHasWord(key, persons) || holdsNamed(inner, persons, depth + 1)) return true;
    } else if (const auto* array = value.get<pf::Array>()) {
        for (const auto& inner : *array)
            if (holdsNamed(inner, persons, depth + 1)) return true;
    }
    return false;
}

// The user comment as a property list, when it is one.
std::optional<pf::Value> commentList(const pf::Dictionary* exif) {
    const auto comment = text(find(exif, "UserComment"));
    return comment ? pf::parsePropertyList(*comment) : std::nullopt;
}

}  // namespace

Summary summarizeImage(const pf::Dictionary& properties, const XmpProperties& xmp) {
    Summary summary;
    const auto* tiff = sub(properties, pf::kImagePropertyTIFFDictionary);
    const auto* exif = sub(properties, pf::kImagePropertyExifDictionary);
    const auto* aux = sub(properties, pf::kImagePropertyExifAuxDictionary);
    const auto* gps = sub(properties, pf::kImagePropertyGPSDictionary);
    const auto* iptc = sub(properties, pf::kImagePropertyIPTCDictionary);
    const auto makerDicts = makers(properties);
    // The first maker dictionary holding one of `keys`.
    const auto fromMakers = [&](std::initializer_list<const char*> keys) -> const pf::Value* {
        for (const auto& [name, d] : makerDicts)
            for (const char* key : keys)
                if (const auto* v = find(d, key)) return v;
        return nullptr;
    };
    const auto add = [&](const char* label, std::string value) {
        if (!value.empty()) summary.lines.push_back({label, std::move(value)});
    };

    add("Camera", cameraText(text(find(tiff, "Make")), text(find(tiff, "Model"))));

    auto lens = text(find(aux, "LensModel"));
    if (!lens) lens = text(find(exif, "LensModel"));
    if (!lens) lens = text(fromMakers({"LensModel", "LensType", "Lens"}));
    if (!lens) lens = lensRange(find(aux, "LensInfo"));
    if (!lens) lens = lensRange(find(exif, "LensSpecification"));
    if (lens) add("Lens", *lens);

    std::vector<std::string> exposure;
    if (auto t = number(find(exif, "ExposureTime"))) exposure.push_back(exposureTimeText(*t));
    if (auto f = number(find(exif, "FNumber"))) exposure.push_back(fNumberText(*f));
    auto iso = number(find(exif, "ISOSpeedRatings"));
    if (!iso) iso = number(find(exif, "PhotographicSensitivity"));
    if (!iso) iso = canonIso(sub(properties, pf::kImagePropertyMakerCanonDictionary));
    if (iso && *iso > 0) exposure.push_back("ISO " + decimal(*iso, 0));
    if (auto mm = number(find(exif, "FocalLength")); mm && *mm > 0)
        exposure.push_back(focalLengthText(*mm, number(find(exif, "FocalLengthIn35mmFilm"))));
    std::string exposureLine;
    for (const auto& part : exposure) exposureLine += (exposureLine.empty() ? "" : " · ") + part;
    add("Exposure", exposureLine);

    if (const auto* flash = find(exif, "Flash"))
        if (const auto* code = flash->get<std::int64_t>()) add("Flash", flashText(*code));

    const char* dateKey = "DateTimeOriginal";
    const char* offsetKey = "OffsetTimeOriginal";
    auto date = text(find(exif, dateKey));
    if (!date) {
        date = text(find(exif, "DateTimeDigitized"));
        offsetKey = "OffsetTimeDigitized";
    }
    if (!date) {
        date = text(find(tiff, "DateTime"));
        offsetKey = "OffsetTime";
    }
    if (date) add("Taken", dateText(*date, text(find(exif, offsetKey))));

    const auto width = number(find(&properties, "PixelWidth"));
    const auto height = number(find(&properties, "PixelHeight"));
    if (width && height && *width > 0 && *height > 0) {
        std::string size = decimal(*width, 0) + " × " + decimal(*height, 0);
        // A thumbnail-sized image has no megapixels worth saying.
        if (*width * *height >= 50000) size += " (" + megapixels(*width * *height) + " MP)";
        add("Size", size);
    }
    if (auto bytes = number(find(&properties, "FileSize")); bytes && *bytes >= 0)
        add("File size", fileSizeText(static_cast<std::uint64_t>(*bytes)));

    const auto lat = number(find(gps, "Latitude"));
    const auto lon = number(find(gps, "Longitude"));
    if (lat && lon && std::fabs(*lat) <= 90 && std::fabs(*lon) <= 180) {
        Position p{*lat, *lon};
        if (text(find(gps, "LatitudeRef")) == "S") p.latitude = -p.latitude;
        if (text(find(gps, "LongitudeRef")) == "W") p.longitude = -p.longitude;
        summary.position = p;
        add("Position", positionDmsText(p) + " (" + positionDecimalText(p) + ")");
        if (auto altitude = number(find(gps, "Altitude")); altitude && std::isfinite(*altitude)) {
            const bool below = number(find(gps, "AltitudeRef")).value_or(0) == 1;
            add("Altitude", decimal(*altitude, 0) + " m " + (below ? "below" : "above") + " sea level");
        }
        summary.privacy.push_back({"GPS position", pf::kImagePropertyGPSDictionary, "Latitude"});
    }

    // What the file says about who made it; each item only when its value says something.
    const auto reveal = [&](const char* label, const char* group, const pf::Dictionary* d,
                            std::initializer_list<const char*> keys) {
        for (const char* key : keys)
            if (text(find(d, key)) || (find(d, key) && !find(d, key)->is<std::string>())) {
                summary.privacy.push_back({label, group, key});
                return true;
            }
        return false;
    };
    const auto revealInMakers = [&](const char* label, std::initializer_list<const char*> keys) {
        for (const auto& [name, d] : makerDicts)
            for (const char* key : keys)
                if (text(find(d, key)) || (find(d, key) && number(find(d, key)).value_or(0) != 0)) {
                    summary.privacy.push_back({label, name, key});
                    return true;
                }
        return false;
    };
    const char* kExif = pf::kImagePropertyExifDictionary;
    const char* kAux = pf::kImagePropertyExifAuxDictionary;
    const char* kTiff = pf::kImagePropertyTIFFDictionary;
    const char* kIptc = pf::kImagePropertyIPTCDictionary;
    reveal("camera serial number", kAux, aux, {"SerialNumber"}) ||
        reveal("camera serial number", kExif, exif, {"BodySerialNumber"}) ||
        revealInMakers("camera serial number", {"SerialNumber", "InternalSerialNumber"});
    reveal("lens serial number", kAux, aux, {"LensSerialNumber"}) ||
        reveal("lens serial number", kExif, exif, {"LensSerialNumber"});
    reveal("owner", kAux, aux, {"OwnerName"}) || reveal("owner", kExif, exif, {"CameraOwnerName"}) ||
        revealInMakers("owner", {"OwnerName"});
    reveal("artist", kTiff, tiff, {"Artist"}) || reveal("artist", kIptc, iptc, {"Byline"});
    reveal("copyright", kTiff, tiff, {"Copyright"}) || reveal("copyright", kIptc, iptc, {"Copyright"});
    reveal("software", kTiff, tiff, {"Software", "ProcessingSoftware"});
    reveal("computer", kTiff, tiff, {"HostComputer"});
    reveal("place names", kIptc, iptc, {"City", "SubLocation", "ProvinceState", "CountryName"});
    revealInMakers("location in the maker note", {"Location", "GPSPosition", "WorldTimeLocation"});
    revealInMakers("face data in the maker note", {"FacesDetected", "FaceDetect", "FaceDetect1", "FaceInfo"});

    // A user comment that is a property list may say where and who in its keys
    // (city = Oslo); one in plain words is a description.
    const bool comment = text(find(exif, "UserComment")).has_value();
    const auto list = commentList(exif);
    if (list && holdsNamed(*list, true))
        summary.privacy.push_back({"place or person in the comment", kExif, "UserComment"});

    // XMP: the first property of each kind leads to its row.
    const auto revealInXmp = [&](const char* label, std::initializer_list<const char*> keyParts) {
        for (const auto& [key, value] : xmp)
            for (const char* part : keyParts)
                if (!value.empty() && key.find(part) != std::string::npos) {
                    summary.privacy.push_back({label, kXmpGroup, key});
                    return true;
                }
        return false;
    };
    revealInXmp("place names in XMP", {"photoshop.City", "photoshop.State", "photoshop.Country", "iptc.Location",
                                       "iptc.CountryCode", "iptcExt.LocationShown", "iptcExt.LocationCreated"});
    revealInXmp("people named in XMP", {"dc.creator", "iptcExt.PersonInImage", "photoshop.Author"});
    revealInXmp("face region names", {"mwg-rs:Name", "MPReg:PersonDisplayName"});
    reveal("a description in words", kTiff, tiff, {"ImageDescription"}) ||
        reveal("a description in words", kIptc, iptc, {"Caption", "Headline"}) ||
        (comment && !list && reveal("a description in words", kExif, exif, {"UserComment"})) ||
        revealInXmp("a description in words", {"dc.description", "exif.UserComment", "photoshop.Headline"});
    return summary;
}

Summary summarizeBundle(std::string_view architectureLines) {
    Summary summary;
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < architectureLines.size()) {
        std::size_t end = architectureLines.find('\n', start);
        if (end == std::string_view::npos) end = architectureLines.size();
        const std::string line = trimmed(architectureLines.substr(start, end - start));
        start = end + 1;
        if (line.empty()) continue;
        names.emplace_back(architectureName(line));
    }
    if (names.empty()) return summary;
    std::string out;
    for (const auto& n : names) out += (out.empty() ? "" : ", ") + n;
    if (names.size() > 1) out += " (universal)";
    summary.lines.push_back({names.size() > 1 ? "Architectures" : "Architecture", out});
    return summary;
}

Summary summarizeLibrary(std::string_view description, std::string_view path) {
    Summary summary;
    std::string text = trimmed(description);
    // The file tool names the file first.
    if (!path.empty() && text.size() > path.size() + 1 && text.compare(0, path.size(), path) == 0 &&
        text.compare(path.size(), 2, ": ") == 0)
        text = trimmed(std::string_view(text).substr(path.size() + 2));
    // It writes the line breaks inside a universal file's slices as "\012- ".
    for (std::size_t at; (at = text.find("\\012-")) != std::string::npos;) {
        std::size_t end = at + 5;
        while (end < text.size() && text[end] == ' ') ++end;
        text.replace(at, end - at, "");
    }
    if (text.empty()) return summary;
    // A universal library lists each slice in brackets: one line each.
    std::vector<std::string> slices;
    if (auto open = text.find(" ["); open != std::string::npos) {
        std::string rest = text.substr(open + 1);
        text = trimmed(text.substr(0, open));
        std::size_t at = 0;
        while ((at = rest.find('[', at)) != std::string::npos) {
            int depth = 0;
            std::size_t end = at;
            for (; end < rest.size(); ++end) {
                if (rest[end] == '[') ++depth;
                if (rest[end] == ']' && --depth == 0) break;
            }
            slices.push_back(trimmed(rest.substr(at + 1, end - at - 1)));
            at = end;
        }
    }
    if (!text.empty() && text.back() == ':') text.pop_back();
    const auto addParts = [&](const std::string& whole, const std::string& kindLabel) {
        std::size_t start = 0;
        bool first = true;
        while (start <= whole.size()) {
            std::size_t end = whole.find(", ", start);
            if (end == std::string::npos) end = whole.size();
            std::string part = trimmed(std::string_view(whole).substr(start, end - start));
            start = end + 2;
            if (part.empty()) continue;
            // "flags:<NOUNDEFS|DYLDLINK>" -> "NOUNDEFS, DYLDLINK"
            if (part.rfind("flags:<", 0) == 0 && part.back() == '>') {
                std::string flags = part.substr(7, part.size() - 8);
                for (std::size_t bar; (bar = flags.find('|')) != std::string::npos;) flags.replace(bar, 1, ", ");
                summary.lines.push_back({"Flags", flags});
            } else {
                summary.lines.push_back({first ? kindLabel : "Detail", part});
            }
            first = false;
        }
    };
    addParts(text, "Kind");
    for (const auto& slice : slices) {
        const auto colon = slice.find(':');
        if (colon == std::string::npos)
            summary.lines.push_back({"Slice", slice});
        else
            addParts(trimmed(std::string_view(slice).substr(colon + 1)), slice.substr(0, colon));
    }
    return summary;
}

// ---- rows ----

bool commentNamesPlace(const pf::Dictionary& properties) {
    const auto list = commentList(sub(properties, pf::kImagePropertyExifDictionary));
    return list && holdsNamed(*list, false);
}

std::vector<PropertyRow> propertyRows(const pf::Dictionary& properties,
                                      const std::function<bool(const PropertyRow&)>& wanted) {
    std::vector<PropertyRow> rows;
    pf::Dictionary top;
    for (const auto& [key, value] : properties)
        if (!value.is<pf::Dictionary>()) top.emplace(key, value);
    addRows(properties, "", "", top, kMaxRowDepth, rows, wanted);
    for (const auto& [key, value] : properties)
        if (const auto* d = value.get<pf::Dictionary>()) addRows(properties, key, "", *d, 1, rows, wanted);
    if (rows.size() >= kMaxRows)
        rows.push_back({rows.back().group, "…", "…", "more values than the tree shows", "see the Properties field"});
    return rows;
}

bool rowMatches(const PropertyRow& row, std::string_view needle) {
    if (needle.empty()) return true;
    const std::string n = lowered(needle);
    // The group too: "gps" is how a user asks for the {GPS} rows, none of whose keys say GPS.
    for (const std::string* field : {&row.group, &row.key, &row.name, &row.readable, &row.raw})
        if (lowered(*field).find(n) != std::string::npos) return true;
    return false;
}

std::string rowsJson(const std::vector<PropertyRow>& rows) {
    std::string out = "[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& r = rows[i];
        out += i ? ",\n " : "";
        out += "{\"group\": " + pf::jsonString(r.group) + ", \"key\": " + pf::jsonString(r.key) +
               ", \"value\": " + pf::jsonString(r.readable) + ", \"raw\": " + pf::jsonString(r.raw) + "}";
    }
    out += "]\n";
    return out;
}

std::string rowText(const PropertyRow& row) { return row.name + "\t" + row.readable + "\t" + row.raw; }

Details detailsFor(const std::string& path, ReportKind kind, const std::string& propertiesField, const pf::Log& log) {
    Details details;
    if (path.empty()) return details;
    if (kind == ReportKind::Bundle || kind == ReportKind::Library) {
        details.summary =
            kind == ReportKind::Bundle ? summarizeBundle(propertiesField) : summarizeLibrary(propertiesField, path);
        const CodeReading code = readCode(path, kind);
        addCodeSummary(code, details.summary);
        details.rows = codeRows(code);
        details.code = true;
    } else {
        std::string packet;
        if (auto props = readImageProperties(path, log, nullptr, &packet)) {
            const XmpProperties xmp = pf::image::xmpProperties(packet);
            details.summary = summarizeImage(*props, xmp);
            details.rows = propertyRows(*props);
            // XMP as a group of its own, beside the dictionary.
            for (const auto& [key, value] : xmp) details.rows.push_back({kXmpGroup, key, key, value, value});
        }
    }
    return details;
}

std::string summaryText(const std::string& path, const Summary& summary) {
    // One line each: no name or value may start a line of its own.
    const auto shown = [](const std::string& text) { return pf::utf8::escapeLine(text); };
    std::string out = "==> " + shown(path) + " <==\n";
    for (const auto& line : summary.lines) out += line.label + ": " + shown(line.text) + "\n";
    std::string reveals;
    for (const auto& item : summary.privacy) reveals += (reveals.empty() ? "" : ", ") + item.label;
    if (!reveals.empty()) out += "Reveals: " + reveals + "\n";
    if (summary.asksFor && !summary.asksFor->empty()) {
        std::string asks;
        for (const auto& name : *summary.asksFor) asks += (asks.empty() ? "" : ", ") + shown(name);
        out += "Asks for: " + asks + "\n";
    }
    return out + "\n";
}

std::string summaryJson(const std::string& path, const Summary& summary) {
    // A list, not an object: a library's slices repeat their labels.
    std::string out = "{";
    out += jsonPathMembers(path);
    out += ", \"summary\": [";
    for (std::size_t i = 0; i < summary.lines.size(); ++i)
        out += (i ? ", " : "") + std::string("{\"label\": ") + pf::jsonString(summary.lines[i].label) +
               ", \"text\": " + pf::jsonString(summary.lines[i].text) + "}";
    out += "], \"position\": ";
    if (summary.position) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "{\"latitude\": %.6f, \"longitude\": %.6f}", summary.position->latitude,
                      summary.position->longitude);
        out += buf;
    } else {
        out += "null";
    }
    out += ", \"reveals\": [";
    for (std::size_t i = 0; i < summary.privacy.size(); ++i) {
        const auto& item = summary.privacy[i];
        out += (i ? ", " : "") + std::string("{\"label\": ") + pf::jsonString(item.label) +
               ", \"group\": " + pf::jsonString(item.group) + ", \"key\": " + pf::jsonString(item.key) + "}";
    }
    out += "]";
    // Only a bundle asks for anything; other objects keep their members.
    if (summary.asksFor) {
        out += ", \"asksFor\": [";
        for (std::size_t i = 0; i < summary.asksFor->size(); ++i)
            out += (i ? ", " : "") + pf::jsonString((*summary.asksFor)[i]);
        out += "]";
    }
    return out + "}\n";
}

}  // namespace vesk
