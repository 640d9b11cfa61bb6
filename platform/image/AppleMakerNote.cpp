// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/AppleMakerNote.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/PropertyList.h"
#include "platform/image/ExivReader.h"
#include "platform/image/TiffValue.h"

namespace vesk::platform::image {
namespace {

constexpr std::string_view kSignature{"Apple iOS\0", 10};
constexpr std::uint64_t kIfdOffset = 14;  // signature, version (2), "MM"
constexpr std::uint64_t kEntrySize = 12;
constexpr std::string_view kBinaryPlist = "bplist00";

const char* tagName(std::uint16_t tag) {
    switch (tag) {
    case 0x0001: return "MakerNoteVersion";
    case 0x0002: return "AEMatrix";
    case 0x0003: return "RunTime";
    case 0x0004: return "AEStable";
    case 0x0005: return "AETarget";
    case 0x0006: return "AEAverage";
    case 0x0007: return "AFStable";
    case 0x0008: return "AccelerationVector";
    case 0x000A: return "HDRImageType";
    case 0x000B: return "BurstUUID";
    case 0x000C: return "FocusDistanceRange";
    case 0x000F: return "OISMode";
    case 0x0011: return "MediaGroupUUID";
    case 0x0014: return "ImageCaptureType";
    case 0x0015: return "ImageUniqueID";
    case 0x0017: return "LivePhotoVideoIndex";
    case 0x0019: return "ImageProcessingFlags";
    case 0x001A: return "QualityHint";
    case 0x001D: return "LuminanceNoiseAmplitude";
    case 0x0020: return "ImageCaptureRequestID";
    case 0x0021: return "HDRHeadroom";
    case 0x0025: return "SceneFlags";
    case 0x0026: return "SignalToNoiseRatioType";
    case 0x0027: return "SignalToNoiseRatio";
    case 0x0030: return "HDRGain";
    case 0x0038: return "AFMeasuredDepth";
    case 0x0040: return "SemanticStyle";
    case 0x0041: return "SemanticStyleRenderingVer";
    case 0x0042: return "SemanticStylePreset";
    case 0x0045: return "FrontFacingCamera";
    default: return nullptr;
    }
}

std::string_view asText(ByteSpan bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

std::optional<Dictionary> readAppleMakerNote(ByteSpan note) {
    if (note.size() < kIfdOffset + 2 || std::memcmp(note.data(), kSignature.data(), kSignature.size()) != 0 ||
        note[12] != 'M' || note[13] != 'M')
        return std::nullopt;
    const std::uint16_t count = *readU16(note, kIfdOffset, true);
    // Entries that do not fit in the note are not there, whatever the count says.
    const std::uint64_t fitting = (note.size() - kIfdOffset - 2) / kEntrySize;
    Dictionary out;
    // One budget for all the note's lists, in objects and in bytes scanned:
    // every entry may point at the same list.
    using ListRead = Result<std::optional<Value>>;
    PropertyListBudget budget;
    std::uint64_t listBytes = 0;
    std::string firstCut;
    std::uint64_t cuts = 0;
    // The tags' texts share the image's budgets: 65,535 entries may all name
    // the same megabyte of text.
    std::uint64_t textsCut = 0, tagsLeftOut = 0, textBytes = 0, tags = 0;
    for (std::uint64_t i = 0; i < count && i < fitting; ++i) {
        if (textBytes > kMaxImageTextBytes || tags >= kMaxImageTags) {
            // What is left is not read at all.
            tagsLeftOut = std::min<std::uint64_t>(count, fitting) - i;
            break;
        }
        const std::uint64_t entry = kIfdOffset + 2 + i * kEntrySize;
        const std::uint16_t tag = *readU16(note, entry, true);
        const std::uint16_t type = *readU16(note, entry + 2, true);
        const std::uint64_t components = *readU32(note, entry + 4, true);
        const unsigned size = tiffTypeSize(type);
        if (size == 0) continue;
        const std::uint64_t length = components * size;  // at most 2^32 * 8: no overflow
        std::optional<ByteSpan> bytes;
        if (length <= 4)
            bytes = subspan(note, entry + 8, length);
        else
            bytes = subspan(note, *readU32(note, entry + 8, true), length);
        if (!bytes) continue;  // an offset or length outside the note

        const char* known = tagName(tag);
        const std::string name = known ? known : std::to_string(tag);
        std::optional<Value> value;
        const bool isList = type == TIFF_UNDEFINED && bytes->size() >= kBinaryPlist.size() &&
                            std::memcmp(bytes->data(), kBinaryPlist.data(), kBinaryPlist.size()) == 0;
        if (isList) {
            listBytes += bytes->size();
            ListRead read = listBytes <= kPropertyListMaxFileBytes
                                      ? readPropertyList(asText(*bytes), budget)
                                      : ListRead::failure("property lists over budget (bytes " +
                                                          std::to_string(listBytes) + ": more than " +
                                                          std::to_string(kPropertyListMaxFileBytes) + ')');
            if (read)
                value = std::move(*read);
            else if (cuts++ == 0)
                firstCut = name + ": " + read.error();
        } else if (type == TIFF_ASCII && bytes->size() > kMaxTagTextBytes &&
                   !std::memchr(bytes->data(), 0, kMaxTagTextBytes)) {
            value = tiffValue(type, bytes->first(kMaxTagTextBytes), true, name);
            if (std::string* s = value ? value->get<std::string>() : nullptr) {
                *s += "<... " + sizeText(bytes->size() - kMaxTagTextBytes) + " cut>";
                ++textsCut;
            }
        } else {
            value = tiffValue(type, *bytes, true, name);
        }
        if (!value) continue;
        // Property lists spend their own budget above; the rest spend the tags'.
        if (!isList) {
            ++tags;
            textBytes += name.size() + describe(*value).size();
            if (textBytes > kMaxImageTextBytes) {
                ++tagsLeftOut;
                continue;
            }
        }
        out[name] = std::move(*value);
    }
    if (cuts > 1) firstCut += ", and " + std::to_string(cuts - 1) + " more lists";
    addTagBudgetNotes(firstCut, textsCut, tagsLeftOut);
    if (!firstCut.empty()) out[kAppleMakerNoteBudgetCutsKey] = Value(std::move(firstCut));
    return out;
}

}  // namespace vesk::platform::image
