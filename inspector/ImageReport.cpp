// SPDX-License-Identifier: GPL-3.0-or-later
#include "inspector/ImageReport.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <span>

#include "inspector/InfoKeys.h"
#include "platform/FileSystem.h"
#include "platform/PropertyList.h"
#include "platform/image/ImageSource.h"

namespace vesk {

namespace {

// Every lookup in a missing dictionary finds nothing.
const platform::Dictionary* subDictionary(const platform::Dictionary* properties, const char* key) {
    if (!properties) return nullptr;
    auto it = properties->find(key);
    return it == properties->end() ? nullptr : it->second.get<platform::Dictionary>();
}

// The sub-dictionaries each merged field is made of, in merge order.
constexpr std::array<const char*, 2> kExifKeys{platform::kImagePropertyExifDictionary,
                                               platform::kImagePropertyExifAuxDictionary};
constexpr std::array<const char*, 5> kMakerKeys{
    platform::kImagePropertyMakerNikonDictionary, platform::kImagePropertyMakerCanonDictionary,
    platform::kImagePropertyMakerAppleDictionary, platform::kImagePropertyMakerFujiDictionary,
    platform::kImagePropertyMakerPentaxDictionary};

// addEntriesFromDictionary: of each present sub-dictionary, in order.
platform::Dictionary mergeSubDictionaries(const platform::Dictionary* properties, std::span<const char* const> keys) {
    platform::Dictionary merged;
    for (const char* key : keys)
        if (const auto* d = subDictionary(properties, key))
            for (const auto& [k, v] : *d) merged[k] = v;
    return merged;
}

// The merge of the present sub-dictionaries, rendered: one alone is rendered
// in place (the merge of one is itself), only two or more are copied together.
template <typename Render>
std::string renderMerged(const platform::Dictionary* properties, std::span<const char* const> keys, Render&& render) {
    const platform::Dictionary* only = nullptr;
    std::size_t present = 0;
    for (const char* key : keys)
        if (const auto* d = subDictionary(properties, key)) only = d, ++present;
    if (present == 1) return render(*only);
    return render(mergeSubDictionaries(properties, keys));
}

// Another report holding the comment folder is waited for this long at most;
// past it, this report's comment goes through a file of its own.
constexpr auto kCommentLockPatience = std::chrono::milliseconds(250);

// A name in the comment folder no other report uses: the process and a count.
std::string ownCommentName() {
    static std::atomic<unsigned long> count{0};
    return "usercomment-" + std::to_string(::getpid()) + "-" + std::to_string(count++) + ".xml";
}

// Removes the file at a path when it goes.
struct RemovedAtEnd {
    std::string path;
    ~RemovedAtEnd() {
        if (!path.empty()) ::unlink(path.c_str());
    }
};

// The comment's round trip through usercomment.xml: the text written as it
// is, read back as a property list (from memory when the file could not be written).
std::optional<std::string> commentRoundTrip(const platform::Value& comment, const std::string& wholeComment,
                                            const std::string& folder, std::vector<std::string>& log,
                                            std::size_t& textLeft) {
    // A comment that is not text is written as its Dictionary text.
    const auto* text = comment.get<std::string>();
    const std::string bytes = !wholeComment.empty() ? wholeComment : text ? *text : platform::describe(comment);
    std::string path = platform::appendingPathComponent(folder, "usercomment.xml");
    const platform::FolderLock lock(folder, kCommentLockPatience);
    RemovedAtEnd own;
    if (lock.busy()) {
        path = own.path = platform::appendingPathComponent(folder, ownCommentName());
        log.push_back(platform::formatLog("usercomment.xml is held by another process; the comment goes through %@",
                                          {path}));
    }
    // A file that cannot be written (a full or read-only folder) does not
    // take the comment with it: the same bytes are read in memory instead.
    const auto error = platform::atomicWriteFile(path, bytes, {.privateDirOnly = true, .durable = false});
    if (error) log.push_back(platform::formatLog("%@%@", {kCommentNotWritten, *error}));
    std::optional<platform::Value> read;
    if (auto d = error ? platform::readDictionaryFromBytes(bytes) : platform::readDictionaryWithContentsOfFile(path); !d)
        log.push_back(platform::formatLog("budget cut usercomment.xml: %@", {d.error()}));
    else if (*d)
        read = platform::Value(std::move(**d));
    bool cut = false;
    std::string readText = read ? platform::describe(*read, cut, textLeft) : platform::describe(read);
    textLeft -= std::min(textLeft, readText.size());
    log.push_back(platform::formatLog("uc = %@", {readText}));
    if (cut) log.push_back(platform::formatLog("budget cut %@: text over 1 MB", {"User comment"}));
    return readText;
}

}  // namespace

std::optional<platform::Dictionary> readImageProperties(const std::string& path, const platform::Log& log,
                                                        std::string* wholeUserComment, std::string* xmpPacket,
                                                        const platform::PropertyKeyFilter& wanted) {
    // fileURLWithPath: has no URL for an empty path.
    if (path.empty()) return std::nullopt;
    const auto source = platform::ImageSource::createWithPath(path);
    if (!source) {
        log.nslog("Error: file name : %@ - Status: %d",
                  {path, std::to_string(platform::imageSourceGetStatus(nullptr))});
        return std::nullopt;
    }
    auto properties = source->copyPropertiesAtIndex(0, wanted);
    if (wholeUserComment) *wholeUserComment = source->wholeUserComment();
    if (xmpPacket) *xmpPacket = source->xmpPacket();
    if (!source->notRead().empty()) log.nslog("Image reader: %@: %@", {path, source->notRead()});
    if (!source->budgetCut().empty()) log.nslog("Image budget: %@: %@", {path, source->budgetCut()});
    if (!source->makerNoteCut().empty())
        log.nslog("budget cut %@ %@", {platform::kImagePropertyMakerAppleDictionary, source->makerNoteCut()});
    return properties;
}

ImageReport buildImageReport(std::optional<platform::Dictionary> properties, const std::string& commentFolder,
                             const std::string& wholeUserComment) {
    ImageReport report;
    auto& fields = report.fields;

    std::optional<platform::Value> infoValue;
    std::optional<platform::Value> allKeys;
    if (properties) {
        platform::Array keys;
        keys.reserve(properties->size());
        for (const auto& entry : *properties) keys.emplace_back(entry.first);
        allKeys = platform::Value(std::move(keys));
        infoValue = platform::Value(std::move(*properties));
    }
    // Every lookup below reads the one copy the report owns.
    const platform::Dictionary* info = infoValue ? infoValue->get<platform::Dictionary>() : nullptr;
    // The six texts together stop at 1 MB, each taking what the ones before
    // it left (a real photo's report is a few KB); each cut one is named in
    // one log line.
    std::vector<std::string> cut;
    std::size_t textLeft = platform::kMaxRenderedBytes;
    // A value or a dictionary, rendered where it is, never copied for it.
    const auto render = [&cut, &textLeft](const auto& value, std::size_t field) {
        bool wasCut = false;
        std::string text = platform::describe(value, wasCut, textLeft);
        textLeft -= std::min(textLeft, text.size());
        if (wasCut) cut.emplace_back(kInfoFields[field].label);
        return text;
    };
    // Rendered once: the log line and field 1 show the same text.
    std::vector<platform::NestedText> nested;
    bool infoCut = false;
    std::string infoText;
    if (infoValue) {
        infoText = platform::describe(*infoValue, infoCut, textLeft, nested);
        textLeft -= std::min(textLeft, infoText.size());
        if (infoCut) cut.emplace_back(kInfoFields[0].label);
    } else {
        infoText = platform::describe(infoValue);
    }
    // "exif info = %@", the text appended once rather than copied through formatLog.
    std::string infoLine = "exif info = ";
    infoLine += infoText;
    report.logLines.push_back(std::move(infoLine));
    report.logLines.push_back(platform::formatLog("exif info.allkeys = %@", {platform::describe(allKeys)}));
    if (info) fields[0] = std::move(infoText);
    const std::string_view shownInfo = fields[0] ? std::string_view(*fields[0]) : std::string_view();

    // A sub-dictionary's own text is in the properties' text already, one
    // level in: taken from there while that is whole, rendered otherwise.
    const auto renderDictionary = [&](const platform::Dictionary& d, std::size_t field) {
        if (!infoCut)
            for (const auto& n : nested)
                if (n.dictionary == &d) {
                    if (auto text = platform::describeNested(shownInfo, n, textLeft)) {
                        textLeft -= std::min(textLeft, text->size());
                        return std::move(*text);
                    }
                    break;
                }
        return render(d, field);
    };

    fields[1] = renderMerged(info, kExifKeys, [&](const platform::Dictionary& d) { return renderDictionary(d, 1); });

    if (const auto* exif = subDictionary(info, platform::kImagePropertyExifDictionary))
        if (auto it = exif->find("UserComment"); it != exif->end())
            fields[2] = commentRoundTrip(it->second, wholeUserComment, commentFolder, report.logLines, textLeft);

    if (const auto* jfif = subDictionary(info, platform::kImagePropertyJFIFDictionary))
        fields[3] = renderDictionary(*jfif, 3);
    if (const auto* tiff = subDictionary(info, platform::kImagePropertyTIFFDictionary))
        fields[4] = renderDictionary(*tiff, 4);

    // The maker dictionary always exists, so an image without maker notes
    // shows the empty dictionary's text.
    fields[5] = renderMerged(info, kMakerKeys, [&](const platform::Dictionary& d) { return renderDictionary(d, 5); });
    if (!cut.empty()) {
        std::string names;
        for (const auto& name : cut) names += (names.empty() ? "" : ", ") + name;
        report.logLines.push_back(platform::formatLog("budget cut %@: text over 1 MB", {names}));
    }
    return report;
}

platform::Dictionary mergedExifDictionary(const platform::Dictionary* properties) {
    return mergeSubDictionaries(properties, kExifKeys);
}

platform::Dictionary makerNoteDictionary(const platform::Dictionary* properties) {
    return mergeSubDictionaries(properties, kMakerKeys);
}

}  // namespace vesk
