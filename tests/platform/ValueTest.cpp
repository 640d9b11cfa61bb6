// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/Log.h"
#include "platform/Value.h"

using namespace vesk::platform;

TEST(DictionaryText, NestedDictionariesAndListsIndentFourBlanksPerLevel) {
    Dictionary exif{{"ExposureTime", Value(0.025)},
                    {"ISOSpeedRatings", Value(32)},
                    {"SubjectArea", Value(Array{Value(1754), Value(1356), Value(612), Value(607)})}};
    Dictionary top{{"PixelWidth", Value(3264)},
                   {"Depth", Value(8)},
                   {"ColorModel", Value("RGB")},
                   {"{Exif}", Value(exif)}};
    EXPECT_EQ(describe(Value(top)),
              "{\n"
              "    ColorModel = RGB;\n"
              "    Depth = 8;\n"
              "    PixelWidth = 3264;\n"
              "    \"{Exif}\" =     {\n"
              "        ExposureTime = 0.025;\n"
              "        ISOSpeedRatings = 32;\n"
              "        SubjectArea =         (\n"
              "            1754,\n"
              "            1356,\n"
              "            612,\n"
              "            607\n"
              "        );\n"
              "    };\n"
              "}");
}

TEST(DictionaryText, ListsOfDictionariesAndEmptyContainers) {
    EXPECT_EQ(describe(Value(Dictionary{})), "{\n}");
    EXPECT_EQ(describe(Value(Array{})), "(\n)");
    Array list{Value(Dictionary{{"a", Value(1)}}), Value("x y")};
    EXPECT_EQ(describe(Value(list)),
              "(\n"
              "        {\n"
              "        a = 1;\n"
              "    },\n"
              "    \"x y\"\n"
              ")");
}

TEST(DictionaryText, TextIsQuotedOnlyWhereItMustBe) {
    EXPECT_EQ(describe(Value("Canon")), "Canon");
    EXPECT_EQ(describe(Value("a_b.c/d")), "a_b.c/d");
    EXPECT_EQ(describe(Value("")), "\"\"");
    EXPECT_EQ(describe(Value("123")), "\"123\"");  // would read back as a number
    EXPECT_EQ(describe(Value("1.5")), "\"1.5\"");
    EXPECT_EQ(describe(Value("Canon EOS")), "\"Canon EOS\"");
    EXPECT_EQ(describe(Value("2015:04:10 20:12:23")), "\"2015:04:10 20:12:23\"");
    EXPECT_EQ(describe(Value("say \"hi\"\\\n")), "\"say \\\"hi\\\"\\\\\\n\"");
    EXPECT_EQ(describe(Value("caf\xC3\xA9")), "\"caf\xC3\xA9\"");
    EXPECT_EQ(describe(Value(Dictionary{{"a key", Value(1)}})), "{\n    \"a key\" = 1;\n}");
}

// No control reaches a field, a log or the store raw: shown as the platform shows it.
TEST(DictionaryText, ControlCharactersAreShownEscaped) {
    for (const auto& [text, shown] : std::vector<std::pair<std::string, std::string>>{
             {std::string(1, '\0'), R"("\U0000")"}, {"\x01", R"("\U0001")"}, {"a\tb\r\n", R"("a\U0009b\U000d\n")"},
             {"\x1b\x1f\x7f\"\\", R"("\U001b\U001f\U007f\"\\")"},
             {"\xC2\x85\xC2\x9F\xC2\xA0", "\"\\U0085\\U009f\xC2\xA0\""}})  // C1 controls; U+00A0 is none
        EXPECT_EQ(describe(Value(Dictionary{{text, Value(text)}})), "{\n    " + shown + " = " + shown + ";\n}");
}

TEST(DictionaryText, ScalarsMissingValuesAndData) {
    EXPECT_EQ(describe(std::optional<Value>()), "(null)");
    EXPECT_EQ(describe(static_cast<const Value*>(nullptr)), "(null)");
    EXPECT_EQ(describe(Value(true)), "1");
    EXPECT_EQ(describe(Value(false)), "0");
    EXPECT_EQ(describe(Value(std::int64_t{-42})), "-42");
    EXPECT_EQ(describe(Value(0.1)), "0.1");
    EXPECT_EQ(describe(Value(1.0 / 3)), "0.3333333333333333");
    EXPECT_EQ(describe(Value(2.0)), "2");
    EXPECT_EQ(describe(Value(Data{0x0a, 0x1b, 0x2c, 0x3d, 0x4e})), "<0a1b2c3d 4e>");
    EXPECT_EQ(describe(Value(Url{"/tmp/a b.jpg"})), "file:///tmp/a%20b.jpg");
}

TEST(DictionaryText, ADictionaryTakenFromTheTextItIsNestedInReadsAsItsOwn) {
    const Dictionary deep{{"list", Value(Array{Value(Dictionary{{"k", Value("a = (")}}), Value(Array{Value(1)})})},
                          {"data", Value(Data{1, 2, 3, 4, 5})},
                          {"\"quoted\" key", Value(Dictionary{})}};
    const std::vector<Dictionary> cases{
        {},
        {{"plain", Value(1)}, {"text", Value("two words\nand a line")}},
        {{"deep", Value(deep)}, {"when", Value(Date{0})}, {"list", Value(Array{})}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        // Kept while the texts are compared: each nested entry points into it.
        const Value outer(
            Dictionary{{"a", Value(cases[i])}, {"b", Value(2)}, {"c", Value(Dictionary{{"x", Value(cases[i])}})}});
        std::vector<NestedText> nested;
        bool cut = false;
        const std::string text = describe(outer, cut, kMaxRenderedBytes, nested);
        ASSERT_FALSE(cut);
        ASSERT_EQ(nested.size(), 2u) << i;
        for (const auto& n : nested) {
            bool ownCut = false;
            EXPECT_EQ(describeNested(text, n, kMaxRenderedBytes), describe(*n.dictionary, ownCut, kMaxRenderedBytes))
                << i;
            // Too near the limit to be sure: left to the caller to render.
            EXPECT_EQ(describeNested(text, n, 8), std::nullopt) << i;
        }
    }
}

TEST(Json, MapsTheTreeAndEscapes) {
    Dictionary d{{"b", Value(Array{Value(1), Value(2.5), Value(true)})},
                 {"a", Value("t\"\n\x01")},
                 {"d", Value(Data{'M', 'a', 'n'})}};
    Value v(d);
    EXPECT_EQ(toJson(&v), R"({"a": "t\"\n\u0001", "b": [1, 2.5, true], "d": "TWFu"})");
    EXPECT_EQ(toJson(nullptr), "null");
    EXPECT_EQ(jsonString("a\xFF"), "\"a\xEF\xBF\xBD\"");
}

// The escaper reads eight bytes at a time: every byte that needs an escape
// (or U+FFFD) is found at every offset within a word and across words.
TEST(Json, EveryEscapeIsFoundAtEveryOffset) {
    const auto byteByByte = [](const std::string& valid) {
        std::string out = "\"";
        for (unsigned char c : valid) {
            if (c == '"') out += "\\\"";
            else if (c == '\\') out += "\\\\";
            else if (c == '\n') out += "\\n";
            else if (c == '\r') out += "\\r";
            else if (c == '\t') out += "\\t";
            else if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else out += static_cast<char>(c);
        }
        return out + "\"";
    };
    struct Case {
        std::string inserted, asValid;
    };
    const std::vector<Case> cases = {{"\"", "\""},         {"\\", "\\"},           {std::string(1, '\0'), std::string(1, '\0')},
                                     {"\x1F", "\x1F"},     {"\n", "\n"},             {"\x7F", "\x7F"},
                                     {"\x21", "\x21"},     {"\x5B\x5D", "\x5B\x5D"}, {"\xC3\xA9", "\xC3\xA9"},
                                     {"\xFF", "\xEF\xBF\xBD"}, {"\xE2\x82", "\xEF\xBF\xBD\xEF\xBF\xBD"}};
    for (const auto& c : cases) {
        for (std::size_t at = 0; at < 20; ++at) {
            for (std::size_t tail : {0u, 1u, 7u, 8u, 9u}) {
                const std::string before(at, 'a'), after(tail, 'b');
                SCOPED_TRACE(testing::Message() << "case " << &c - cases.data() << " at " << at << " tail " << tail);
                ASSERT_EQ(jsonString(before + c.inserted + after), byteByByte(before + c.asValid + after));
            }
        }
    }
}

TEST(LogFormat, ArgumentsAreNeverReadAsFormats) {
    EXPECT_EQ(formatLog("%@=%@...", {"%@%d", "x"}), "%@%d=x...");
    EXPECT_EQ(formatLog("Error: file name : %@ - Status: %d", {"/a", "-1"}),
              "Error: file name : /a - Status: -1");
    EXPECT_EQ(formatLog("%@ and %@", {"one"}), "one and (null)");
    CaptureLogSink capture;
    Log(capture).nslog("uc = %@", {"(null)"});
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0], "uc = (null)");
}
