// SPDX-License-Identifier: GPL-3.0-or-later
// The image report, built apart from the window: a file's image property
// dictionary in, the six field texts and the report's log lines out. The
// window's inspector and vesk-info both build it here.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "platform/Value.h"
#include "platform/image/ImageSource.h"

namespace vesk {

// The image property dictionary of a file's first image, or nothing; says on
// `log` when the file cannot be opened as an image. A user comment too long
// to show whole among the tags is put whole in `wholeUserComment` when given,
// and the file's XMP packet, unparsed, in `xmpPacket`. With `wanted`, the
// sub-dictionaries may hold only the values it asks for.
std::optional<platform::Dictionary> readImageProperties(const std::string& path, const platform::Log& log,
                                                        std::string* wholeUserComment = nullptr,
                                                        std::string* xmpPacket = nullptr,
                                                        const platform::PropertyKeyFilter& wanted = {});

struct ImageReport {
    // The texts of the six info fields, in the window's order; nothing leaves
    // a field cleared.
    std::array<std::optional<std::string>, 6> fields;
    // The report's log lines, in the order they were made.
    std::vector<std::string> logLines;
};

// What the image report shows of `properties`. A user comment is written to
// usercomment.xml in `commentFolder` and read back as a property list; the
// folder is locked meanwhile, so reports in other threads and processes never
// read each other's comment; a lock held past a short wait sends the comment
// through a file of the report's own, and a file that cannot be written
// through memory.
// The log line that says the comment file could not be written starts with
// this; the comment was read in memory and is shown all the same.
inline constexpr const char* kCommentNotWritten = "writing error = ";

// `wholeUserComment`, when not empty, is the comment whole, which the
// properties hold cut.
ImageReport buildImageReport(std::optional<platform::Dictionary> properties, const std::string& commentFolder,
                             const std::string& wholeUserComment = {});

// "{Exif}" then "{ExifAux}"; a later source replaces the value of an equal key.
platform::Dictionary mergedExifDictionary(const platform::Dictionary* properties);
// The maker dictionaries Nikon, Canon, Apple, Fuji, Pentax, merged in that order.
platform::Dictionary makerNoteDictionary(const platform::Dictionary* properties);
inline platform::Dictionary mergedExifDictionary(const std::optional<platform::Dictionary>& properties) {
    return mergedExifDictionary(properties ? &*properties : nullptr);
}
inline platform::Dictionary makerNoteDictionary(const std::optional<platform::Dictionary>& properties) {
    return makerNoteDictionary(properties ? &*properties : nullptr);
}

}  // namespace vesk
