// SPDX-License-Identifier: GPL-3.0-or-later
// The image-property reader: an image source made for a file, asked for the
// property dictionary of its first image (see image-properties.md for the keys).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/FileDescriptor.h"
#include "platform/Value.h"

namespace vesk::platform {

// Status of an image source. A source that could not be made has none of its
// own; asked about it, the reader answers kImageStatusInvalidData.
enum ImageSourceStatus : int {
    kImageStatusUnexpectedEOF = -5,
    kImageStatusInvalidData = -4,
    kImageStatusUnknownType = -3,
    kImageStatusReadingHeader = -2,
    kImageStatusIncomplete = -1,
    kImageStatusComplete = 0,
};

// The five maker-note keys the image report merges; other makers' notes stand
// under keys of the same form ("{MakerOlympus}", ...).
inline constexpr const char* kImagePropertyMakerNikonDictionary = "{MakerNikon}";
inline constexpr const char* kImagePropertyMakerCanonDictionary = "{MakerCanon}";
inline constexpr const char* kImagePropertyMakerAppleDictionary = "{MakerApple}";
inline constexpr const char* kImagePropertyMakerFujiDictionary = "{MakerFuji}";
inline constexpr const char* kImagePropertyMakerPentaxDictionary = "{MakerPentax}";
inline constexpr const char* kImagePropertyExifDictionary = "{Exif}";
inline constexpr const char* kImagePropertyExifAuxDictionary = "{ExifAux}";
inline constexpr const char* kImagePropertyTIFFDictionary = "{TIFF}";
inline constexpr const char* kImagePropertyJFIFDictionary = "{JFIF}";
inline constexpr const char* kImagePropertyGPSDictionary = "{GPS}";
inline constexpr const char* kImagePropertyIPTCDictionary = "{IPTC}";

// Which values a caller will look at, by sub-dictionary ("{Exif}") and key.
// A value it refuses need not be made: the reader may skip converting it.
// The values other properties are worked out from are made all the same.
using PropertyKeyFilter = std::function<bool(std::string_view dictionary, std::string_view key)>;

class ImageSource {
public:
    // A source for the file at `path`, or nothing when it cannot be opened for
    // reading as a regular file (missing, a folder, no permission, a device).
    static std::unique_ptr<ImageSource> createWithPath(const std::string& path);
    ~ImageSource();
    ImageSource(const ImageSource&) = delete;
    ImageSource& operator=(const ImageSource&) = delete;

    // The properties of image `index`; only the first image is read. Nothing
    // when the file holds no image this reader knows.
    // With `wanted`, the sub-dictionaries may hold only what it asks for.
    std::optional<Dictionary> copyPropertiesAtIndex(std::size_t index, const PropertyKeyFilter& wanted = {}) const;

    // What a budget left out of the last copyPropertiesAtIndex, in a few
    // words (a tag's text cut, tags past the total left out, only a window of
    // the file read); empty when nothing was.
    const std::string& budgetCut() const { return budgetCut_; }
    // Which of the Apple maker note's property lists a budget refused, and
    // why; empty when none was.
    const std::string& makerNoteCut() const { return makerNoteCut_; }
    // Why the file could not be read in full although its format is known
    // (a reader's library could not be loaded); empty otherwise.
    const std::string& notRead() const { return notRead_; }
    // The user comment whole, when the properties hold it cut to the tag
    // text budget; empty otherwise.
    const std::string& wholeUserComment() const { return wholeUserComment_; }
    // The XMP packet of the last copyPropertiesAtIndex, unparsed; empty when none.
    const std::string& xmpPacket() const { return xmpPacket_; }

    // Complete for a file that was recognised as an image, else unknown type.
    ImageSourceStatus status() const;

private:
    explicit ImageSource(FileDescriptor fd) : fd_(std::move(fd)) {}
    FileDescriptor fd_;
    mutable std::string budgetCut_;
    mutable std::string makerNoteCut_;
    mutable std::string wholeUserComment_;
    mutable std::string xmpPacket_;
    mutable std::string notRead_;
};

// CGImageSourceGetStatus: a source's status; handed no source, kImageStatusInvalidData.
int imageSourceGetStatus(const ImageSource* source);

}  // namespace vesk::platform
