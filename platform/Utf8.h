// SPDX-License-Identifier: GPL-3.0-or-later
// UTF-8 checks shared by the command runner, the drop logic and the renderers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk::platform::utf8 {

// Strict: no overlong forms, no surrogates, nothing past U+10FFFF, no cut sequence.
bool isValid(std::string_view bytes);

// The text with every invalid byte replaced by U+FFFD; valid input is returned unchanged.
std::string sanitize(std::string_view bytes);

// Appends the UTF-8 form of a code point (which the caller has checked).
void append(std::string& out, char32_t codePoint);

// The text as a terminal may safely show it: C0 controls other than newline
// and tab, DEL, C1 controls (U+0080 to U+009F) and bytes that are not valid
// UTF-8 are written as escapes (`\e` for ESC, `\x07`, `\u0085`, `\xff`), so
// text read from a file cannot move the cursor, retitle or clear the terminal.
// Everything else, the backslash included, is left as it is.
std::string escapeControls(std::string_view bytes);
// The same, with newline and tab escaped too (`\n`, `\t`), for text that
// must stay on its one line: a name in a header or a message, a summary
// value. A name or a tag cannot then start a line that looks like Vesk's.
std::string escapeLine(std::string_view bytes);

// Length in UTF-16 code units, the platform string's own length; invalid bytes count one each.
std::size_t utf16Length(std::string_view bytes);

}  // namespace vesk::platform::utf8
