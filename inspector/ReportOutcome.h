// SPDX-License-Identifier: GPL-3.0-or-later
// What became of the last file a report was handed, in plain words, for the
// window's status line. The info store holds what a report shows and keeps
// its own rules (a missing file changes nothing, an unreadable one leaves
// fields empty); the outcome says why, failures included.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/TypeService.h"

namespace vesk {

// The outcomes' texts.
inline constexpr const char* kOutcomeNoSuchFile = "No such file";
// Followed by ": " and the reason, "Cannot read: permission denied".
inline constexpr const char* kOutcomeCannotRead = "Cannot read";
inline constexpr const char* kOutcomeImageShown = "Image metadata shown";
inline constexpr const char* kOutcomeNoImageMetadata = "No image metadata found";
inline constexpr const char* kOutcomeNotABundle = "Not a bundle: not a folder";
inline constexpr const char* kOutcomeNoExecutable = "No executable in this bundle";
inline constexpr const char* kOutcomeExecutableNotMachO = "The bundle's executable is not a Mach-O file";
inline constexpr const char* kOutcomeExecutableMalformed = "The bundle's executable is a damaged Mach-O file";
inline constexpr const char* kOutcomeNotMachO = "Not a Mach-O file";
inline constexpr const char* kOutcomeMachONotLibrary = "A Mach-O file, but not a dynamic library";
inline constexpr const char* kOutcomeLibraryDescribed = "Described by the file tool";
inline constexpr const char* kOutcomeNoDescription = "The file tool could not describe it";

// What a refusal ends with: the kinds of file Vesk reads, in a few words.
inline constexpr const char* kWhatVeskReads = "Vesk reads photos, macOS bundles and libraries";

struct ReportOutcome {
    std::string path;                // as the report was handed it
    std::string text;                // one of the texts above, or the architectures found
    std::vector<std::string> notes;  // what a budget cut short, each in a few words
    bool failed = false;             // nothing, or not what was asked for, could be shown

    bool operator==(const ReportOutcome&) const = default;
};

// The status line: "photo.jpg: No image metadata found", the budget notes
// after it ("...: Image metadata shown (cut short: 4096 tags at most)").
std::string statusText(const ReportOutcome& outcome);

// A file not taken, in the status line's words: what it is and what Vesk
// reads ("notes.txt: a text file; Vesk reads photos, macOS bundles and
// libraries"). `type` is the type service's answer, nothing when it had none.
ReportOutcome refusalOutcome(const std::string& path, const std::optional<std::string>& type,
                             const platform::TypeService& types);

// "N architecture(s) in the bundle's executable".
std::string architecturesShownText(std::size_t count);

// Why `path` cannot be read as one regular file, as the system words it
// ("Permission denied", "Is a directory", or "not a regular file"), or
// nothing. Only stat and a non-blocking open: a pipe is never read.
std::optional<std::string> unreadableReason(const std::string& path);

// The status line's outcome for such a reason: "Cannot read: permission denied".
std::string cannotReadText(const std::string& reason);

// The note a budget line of the log makes ("Image budget: PATH: what" and
// "budget cut WHAT: why"), or a line saying the file was not read in full
// ("Image reader: PATH: why"); nothing for any other line.
std::optional<std::string> budgetNote(const std::string& logLine, const std::string& path);

}  // namespace vesk
