// SPDX-License-Identifier: GPL-3.0-or-later
// The details view's reading of a report, apart from the window: a summary a
// photographer reads at a glance, what the file gives away about where and
// who, and the property dictionary as rows of readable values.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "inspector/Routing.h"
#include "platform/Log.h"
#include "platform/Value.h"

namespace vesk {

struct SummaryLine {
    std::string label;  // "Camera", "Exposure", ...
    std::string text;
};

// Something the file tells about where it was made or who made it, and the
// tree row that shows it.
struct PrivacyItem {
    std::string label;  // "GPS position", "camera serial number", ...
    std::string group;  // "{GPS}", "" for a top-level key
    std::string key;
};

struct Position {
    double latitude = 0, longitude = 0;  // signed: south and west negative
};

struct Summary {
    std::vector<SummaryLine> lines;
    std::vector<PrivacyItem> privacy;
    std::optional<Position> position;
    // A bundle's: what it asks the user for ("camera", "location"); nothing
    // for what is no bundle.
    std::optional<std::vector<std::string>> asksFor;
};

// An XMP property as text, by its key ("photoshop.City"), in the packet's order.
using XmpProperties = std::vector<std::pair<std::string, std::string>>;
// The group the details tree shows XMP properties under.
inline constexpr const char* kXmpGroup = "XMP";
// What the details (the tree and vesk-info's text) call the group of the
// dictionary's top-level values, which has no key of its own.
inline constexpr const char* kTopLevelGroupTitle = "Image";

// The summary of an image's property dictionary and, beside it, the file's
// XMP properties (which the dictionary holds only a few of).
Summary summarizeImage(const platform::Dictionary& properties, const XmpProperties& xmp = {});
// Whether the image's user comment is a property list with a key that names
// a place ("city", "gps", ...), at any depth.
bool commentNamesPlace(const platform::Dictionary& properties);
// The summary of a bundle's report: its architecture lines in plain words.
Summary summarizeBundle(std::string_view architectureLines);
// The summary of a library's report: the file tool's description of `path`
// in its parts, one line for each slice of a universal library.
Summary summarizeLibrary(std::string_view fileDescription, std::string_view path = {});

// One row of the tree: a key of the dictionary (or of one of its
// sub-dictionaries), its value as a person reads it and as the report has it.
struct PropertyRow {
    std::string group;     // the sub-dictionary, "" for a top-level value
    std::string key;       // as the dictionary has it ("Parent.child" inside nested dictionaries)
    std::string name;      // as the tree shows it: a maker-note number may get its documented name
    std::string readable;  // "1/40 s", "Off, did not fire", ...
    std::string raw;       // the value's own text, on one line
};

// Every value of the dictionary, top-level values first, then each
// sub-dictionary in the dictionary's order; with `wanted`, only the rows it
// keeps (asked before a row's values are read, which is most of a row's cost).
std::vector<PropertyRow> propertyRows(const platform::Dictionary& properties,
                                      const std::function<bool(const PropertyRow&)>& wanted = nullptr);

// Whether `needle` is in the row's group, key, name, readable or raw value,
// letter case aside. An empty needle matches every row.
bool rowMatches(const PropertyRow& row, std::string_view needle);

// The rows as a JSON array of {"group", "key", "value", "raw"} objects.
std::string rowsJson(const std::vector<PropertyRow>& rows);
// One row as tab-separated text: name, readable value, raw value.
std::string rowText(const PropertyRow& row);

// What the details view shows of the file on show.
struct Details {
    Summary summary;
    std::vector<PropertyRow> rows;  // an image's dictionary, or the code tree of a bundle or library
    bool code = false;              // the rows are a code tree
};

// The details of the report on show, for the report `kind` the inspector
// routed it to (reportKindFor): a bundle's and a library's summary read
// `propertiesField`, the first field's text; an image is read again from the
// file. Nothing for an empty path.
Details detailsFor(const std::string& path, ReportKind kind, const std::string& propertiesField,
                   const platform::Log& log);

// vesk-info --summary: "==> PATH <==", then "Label: text" a line and the
// privacy line ("Reveals: GPS position, software"), control characters
// escaped; and its JSON form, one object and a newline.
std::string summaryText(const std::string& path, const Summary& summary);
std::string summaryJson(const std::string& path, const Summary& summary);

// Formatting, as photographers write it.
std::string exposureTimeText(double seconds);   // 0.025 -> "1/40 s", 2 -> "2 s"
std::string fNumberText(double f);               // 2.2 -> "f/2.2", 8 -> "f/8"
std::string focalLengthText(double mm, std::optional<double> in35mm);  // "4.2 mm (57 mm in 35 mm)"
std::string flashText(std::int64_t flash);       // 16 -> "Off, did not fire"
// 40.4469722 as a latitude -> "40°26′49.10″ N"; negative values take S or W.
std::string dmsText(double degrees, bool latitude);
// "40°26′49.10″ N, 3°43′29.11″ W"
std::string positionDmsText(const Position& position);
// "40.446972, -3.724753"
std::string positionDecimalText(const Position& position);
std::string fileSizeText(std::uint64_t bytes);   // "1.9 MB", "312 KB", "900 bytes"

}  // namespace vesk
