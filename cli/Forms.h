// SPDX-License-Identifier: GPL-3.0-or-later
// The forms vesk-info prints a report in.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inspector/CodeSummary.h"
#include "inspector/Summary.h"
#include "platform/Value.h"

namespace vesk::cli {

// {"path": ..., "store": {key: text}} and a newline: the six fields as the
// info store holds them, with the current path, in the table's order.
std::string jsonReport(const std::string& given, const std::map<std::string, std::string>& store);

// What a form needs of one file, read as the details view reads it.
struct Reading {
    const char* kind = "none";  // "image", "bundle", "library" or "none"
    Summary summary;
    std::vector<PropertyRow> rows;
    std::optional<platform::Dictionary> properties;  // an image's
    std::string field;  // a bundle's architecture lines, a library's description
    // Who a bundle says it is: the Info.plist keys it has of kIdentityKeys.
    std::vector<std::pair<std::string, std::string>> identity;
    // A bundle's or a library's slices, signature and nested code.
    std::optional<CodeReading> code;
};

inline constexpr const char* kIdentityKeys[] = {"CFBundleIdentifier", "CFBundleName", "CFBundleShortVersionString",
                                                 "CFBundleVersion"};

// --json: one object and a newline, {"path", ["pathBytes",] "kind",
// "summary", "position", "reveals"} and by kind "properties",
// "code" and "architectures", or "code" and "description" (docs/json.md).
// With `tags`, the properties hold only those tags.
std::string jsonObject(const std::string& given, const std::string& path, const Reading& reading,
                       const std::vector<std::string>& tags);

// --csv: the header line (path, then the tags or the summary's labels) and
// one row per file, quoted as RFC 4180 asks.
std::string csvHeader(const std::vector<std::string>& tags);
std::string csvRow(const std::string& given, const Reading& reading, const std::vector<std::string>& tags);

// Whether a tag asked for with -t ("fnumber", "Exif:FNumber") names the key
// `key` of the group `group` ("{Exif}", "" at the top level), letter case aside.
bool tagMatches(std::string_view tag, std::string_view group, std::string_view key);
// Whether a details row is one of `tags` (by its key or its shown name).
bool rowChosen(const PropertyRow& row, const std::vector<std::string>& tags);
// Whether the value under `key` of the group `group` is one of `tags`: what
// the image reader is asked to make when only those tags are printed.
bool keyChosen(std::string_view group, std::string_view key, const std::vector<std::string>& tags);

// The default text: "==> PATH <==", the summary's lines, then every row of
// the details view once, "[Exif] ExposureTime  1/75 s", and a blank line.
// With `tags`, only the rows of those tags.
std::string readableText(const std::string& given, const Reading& reading, const std::vector<std::string>& tags);

// A group as the details view titles it, without the braces: "Exif", and
// "Image" for the top-level values.
std::string groupTitle(const std::string& group);

}  // namespace vesk::cli
