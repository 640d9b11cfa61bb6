// SPDX-License-Identifier: GPL-3.0-or-later
// What Exiv2 reads from a file, already turned into property-list values.
// The one source file that includes Exiv2 implements this; nothing else sees it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Value.h"
#include "platform/Bytes.h"
#include "platform/image/ImageSource.h"
#include "platform/image/JpegHeader.h"

namespace vesk::platform::image {

// What one image may cost: a report over any file stays within a second and
// 100 MB, and prints less than 1 MB.
// A tag's text beyond this is cut and ends in "<... 12 MB cut>".
inline constexpr std::size_t kMaxTagTextBytes = 64 << 10;
// All the values of an image, as rendered text with their keys, charged for
// each tag copied (tags that share one data block are charged each time);
// the fields show each value at most twice. Further tags are left out.
inline constexpr std::size_t kMaxImageTextBytes = 256 << 10;
inline constexpr std::size_t kMaxImageTags = 4096;
// Exiv2 copies each out-of-line TIFF value twice; entries beyond this total
// are hidden from it (see TiffValueCaps.h).
inline constexpr std::uint64_t kMaxExivTiffValueBytes = 8 << 20;
// What Exiv2 sees of a file that is neither a JPEG (handed over as its
// segments) nor a TIFF structure (mapped, values capped): several of its
// readers (CRW, EPS, PNG chunks, PSD resources, XMP sidecars) copy whole
// what they are given.
inline constexpr std::uint64_t kMaxExivWindowBytes = 16 << 20;
// A user comment is read whole up to this (a property list's own budget),
// though only kMaxTagTextBytes of it are shown among the tags.
inline constexpr std::size_t kMaxUserCommentBytes = 16 << 20;
// An Apple maker note is a few KB; it is copied only up to this.
inline constexpr std::size_t kMaxMakerNoteBytes = 1 << 20;

// "12 MB", "300 KB", "900 bytes": how the budgets' notes and cut marks size things.
std::string sizeText(std::uint64_t bytes);
// Appends "N what" to a budget note, after ", " when it holds something; nothing for 0.
void addBudgetNote(std::string& note, std::uint64_t n, const std::string& what);
// The tag budgets' part: "3 tag texts cut to 64 KB, 2 tags left out past ...".
void addTagBudgetNotes(std::string& note, std::uint64_t textsCut, std::uint64_t tagsLeftOut);

struct ExivMetadata {
    bool recognized = false;  // Exiv2 knew the file's format
    bool bigEndian = false;   // byte order of the EXIF/TIFF data
    std::uint32_t pixelWidth = 0, pixelHeight = 0;
    Dictionary tiff, exif, gps, iptc, exifAux;
    std::map<std::string, Dictionary> makers;  // by top-level key, "{MakerCanon}", ...
    Data undecodedMakerNote;  // the MakerNote blob when Exiv2 has no decoder for it
    Data iccProfile;
    // The user comment whole, when {Exif} holds it cut for display: the
    // comment file and its property list are read from this.
    std::string wholeUserComment;
    // What a budget left out, in a few words; empty when nothing was.
    std::string budgetCut;
    // The XMP packet as the file holds it, unparsed: the details view reads
    // it (xmpProperties) and the report does not, so nobody else pays for it.
    std::string xmpPacket;
};

// Every property of an XMP packet as text, by its key without "Xmp."
// ("photoshop.City", "iptcExt.LocationShown[1]/Iptc4xmpExt:City"); structure
// and array heads are left out. At most kMaxXmpProperties, each cut to
// kMaxXmpTextBytes; a packet over kMaxXmpPacketBytes gives nothing.
inline constexpr std::size_t kMaxXmpProperties = 1024;
inline constexpr std::size_t kMaxXmpTextBytes = 4096;
inline constexpr std::size_t kMaxXmpPacketBytes = 2 << 20;
std::vector<std::pair<std::string, std::string>> xmpProperties(std::string_view packet);

// Never throws and never writes to the log. `fd` is a regular file open for
// reading (it stays the caller's): Exiv2 gets a private mapping of a TIFF
// with its values capped, and of any other file the first
// kMaxExivWindowBytes. With `wanted`, the values it refuses are not
// converted, except those of IFD0 and the maker-note values {ExifAux} is made
// from, which other properties are worked out from.
ExivMetadata readWithExiv2(int fd, const PropertyKeyFilter& wanted = {});
// The same for the file at `path`.
ExivMetadata readWithExiv2(const std::string& path);
// A JPEG's metadata from the segments readJpegHeader listed, which hold all
// of it: the ones Exiv2 uses are read in one pass and handed to it in memory,
// which spares it reading the file again. Also when the walk found no scan
// (a truncated file, or more segments than it walks): what it found is
// what Exiv2 gets, never the whole file.
ExivMetadata readJpegHeadWithExiv2(const FileBytes& file, const JpegHeader& jpeg,
                                   const PropertyKeyFilter& wanted = {});
// An EXIF block carried by a container (HEIF, JPEG XL, CR3): `tiff` starts at
// its TIFF header and is handed to Exiv2 as an in-memory TIFF, so that it
// is read exactly as a JPEG's Exif segment is (values capped the same way).
// `xmpPacket` is the container's XMP, parsed only when it can hold what is
// shown. A block larger than kMaxExifBlockBytes is not read.
inline constexpr std::size_t kMaxExifBlockBytes = 16 << 20;
ExivMetadata readExifBlockWithExiv2(std::vector<std::uint8_t> tiff, std::string_view xmpPacket = {},
                                    const PropertyKeyFilter& wanted = {});

// Mutes Exiv2's log and starts its XMP toolkit, once per process; every
// user of Exiv2 calls it first.
void prepareExiv2Library();

// Exiv2's own reading of a value of a tag it knows, as a photographer reads
// it: ("Exif.Photo.Flash", 16) -> "No, compulsory", ("Exif.Photo.ExposureTime",
// 0.025) -> "1/40 s". Nothing for a key Exiv2 does not know, a value that
// does not fit the tag's type, or a reading that is the raw value again.
std::optional<std::string> interpretedText(const std::string& exivKey, const Value& value);

}  // namespace vesk::platform::image
