// SPDX-License-Identifier: GPL-3.0-or-later
// A copy of a photo without the places it names, or without its metadata:
// made in memory, compared with the original's coded picture, written under
// a temporary name, read back through the same readers as any report, and
// only then given its name. The original is only ever read.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "platform/image/MetadataCleaner.h"

namespace vesk {

using platform::image::CleanLevel;

// "location" or "all", as vesk-info takes them.
std::optional<CleanLevel> cleanLevelNamed(const std::string& name);

// "IMG_1.jpg" -> "IMG_1 (clean).jpg": the name the copy is offered under.
std::string cleanCopyName(const std::string& path);

// Why the file at `path` cannot be cleaned (unreadable, or a format not
// cleaned); nothing when it can be tried, at either level.
std::optional<std::string> whyNotCleanable(const std::string& path);

struct CleanOutcome {
    bool saved = false;
    // What was taken out, in a few words each; empty when there was nothing to take.
    std::vector<std::string> removed;
    // Why nothing was saved, or what the copy was found to keep.
    std::string error;
};

// Writes the copy of `source` at `destination` (a file name in an existing
// folder; a file there is replaced, never the original itself, however the
// path reaches it).
CleanOutcome saveCleanCopy(const std::string& source, const std::string& destination, CleanLevel level,
                           const platform::Log& log);

// "removed GPS (9 tags), XMP places (3 properties)", or "nothing to remove".
std::string removedText(const CleanOutcome& outcome);
// The window's status line after a saved copy: "Saved a copy without
// location: NAME; nothing about where remains".
std::string cleanStatusText(const std::string& copyPath, CleanLevel level);

}  // namespace vesk
