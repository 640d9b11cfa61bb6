// The forms vesk-info prints a report in.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "inspector/Summary.h"
#include "platform/Value.h"

namespace vesk::cli {

// {"path": ..., "store": {key: text}} and a newline: the six fields as the
// info store holds them, with the current path, in the table's order.
std::string jsonReport(const std::string& given, const std::map<std::string, std::string>& store);

// The default text: "==> PATH <==", the summary's lines, then every row of
// the details view once, "[Exif] ExposureTime  1/75 s", and a blank line.
std::string readableText(const std::string& given, const Summary& summary, const std::vector<PropertyRow>& rows);

// What a form needs of one file, read as the details view reads it.
struct Reading {
    const char* kind = "none";  // "image", "bundle", "library" or "none"
    Summary summary;
    std::vector<PropertyRow> rows;
    std::optional<platform::Dictionary> properties;  // an image's
    std::string field;  // a bundle's architecture lines, a library's description
};

// --json: one object and a newline, {"path", ["pathBytes",] "kind",
// "summary", "position", "reveals"} and by kind "properties",
// "architectures" or "description" (docs/json.md).
std::string jsonObject(const std::string& given, const std::string& path, const Reading& reading);

// A group as the details view titles it, without the braces: "Exif", and
// "Image" for the top-level values.
std::string groupTitle(const std::string& group);

}  // namespace vesk::cli
