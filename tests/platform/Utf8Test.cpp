// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Utf8.h"

using vesk::platform::utf8::escapeControls;

TEST(Utf8, EscapeControlsKeepsTextAndEscapesWhatDrivesATerminal) {
    struct Case {
        const char* what;
        std::string in, out;
    };
    const std::vector<Case> cases = {
        // Left alone.
        {"plain", "Canon EOS 5D", "Canon EOS 5D"},
        {"newline and tab", "a\tb\nc\n", "a\tb\nc\n"},
        {"backslash", "C:\\x07", "C:\\x07"},
        {"accents and emoji", "Zo\xC3\xAB \xF0\x9F\x93\xB7", "Zo\xC3\xAB \xF0\x9F\x93\xB7"},
        {"U+00A0, first after C1", "\xC2\xA0", "\xC2\xA0"},
        {"empty", "", ""},
        // C0, ESC and DEL.
        {"title then clear", "\x1B]0;owned\x07\x1B[2J", "\\e]0;owned\\x07\\e[2J"},
        {"carriage return", "ok\rfake", "ok\\x0dfake"},
        {"zero byte", std::string("a\0b", 3), "a\\x00b"},
        {"unit separator", "\x1F", "\\x1f"},
        {"delete", "\x7F", "\\x7f"},
        // C1 in UTF-8 form.
        {"next line", "a\xC2\x85z", "a\\u0085z"},
        {"CSI", "\xC2\x9B" "2J", "\\u009b2J"},
        {"first C1", "\xC2\x80", "\\u0080"},
        // Bytes that are no UTF-8, each on its own.
        {"lone byte", "\xFF", "\\xff"},
        {"raw C1 byte", "\x9B" "2J", "\\x9b2J"},
        {"cut sequence", "\xE2\x82", "\\xe2\\x82"},
        {"overlong ESC", "\xC0\x9B", "\\xc0\\x9b"},
        {"surrogate", "\xED\xA0\x80", "\\xed\\xa0\\x80"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(escapeControls(c.in), c.out);
        EXPECT_EQ(escapeControls(c.out).find('\x1B'), std::string::npos);
    }
}
