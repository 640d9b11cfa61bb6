// SPDX-License-Identifier: GPL-3.0-or-later
// Whether the text a drag carries is only its own list of files. File
// managers (GNOME Files, Dolphin, Thunar, PCManFM) put the dragged files'
// URIs or paths under text/plain beside their file lists, for programs that
// take only text; such a drag is a file drag, not a dragged text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vesk {

// True when every line of `text` (blank lines and a clipboard header such as
// GNOME's "copy"/"cut" aside) names one of the files of `uris`, as the same
// URI, as the file URI written otherwise (escaped or not, with "localhost"),
// or as the plain path. A text with no line left is no text either.
// `uris` are the URIs of the drag's file lists as written (percent-escaped).
bool textIsFileList(std::string_view text, const std::vector<std::string>& uris);

// The URIs of a URI list (text/uri-list, KDE's application/x-kde4-urilist):
// one per line, comment lines (#) and blank lines left out.
std::vector<std::string> urisOfUriList(std::string_view list);
// The URIs of GNOME's x-special/gnome-copied-files ("copy" or "cut", then one
// URI a line) and x-special/gnome-icon-list (a URI, "\r" and its icon place, a line).
std::vector<std::string> urisOfGnomeList(std::string_view list);

// The path a local file URI names, its escapes decoded to raw bytes; empty
// for anything but a file URI on this machine ("file:///p", "file://localhost/p").
std::string localPathOfFileUri(std::string_view uri);

}  // namespace vesk
