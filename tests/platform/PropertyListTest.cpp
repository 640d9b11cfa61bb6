// SPDX-License-Identifier: GPL-3.0-or-later
// The property-list budgets: lists at a budget are read, lists past it are
// refused before libplist sees them, with the budget named, in well under a
// second whatever the list claims to hold.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "../regressions/HostilePropertyLists.h"
#include "platform/PropertyList.h"

using namespace vesk::platform;
namespace hostile = vesk::test::hostile;

namespace {

struct BudgetCase {
    const char* name;
    std::function<std::string()> make;
    const char* refusal;  // in the error; nullptr when the list is read
};

const BudgetCase kBudgetCases[] = {
    // Nesting: the innermost array at the depth budget, then one deeper.
    {"xml at the depth budget", [] { return hostile::deepXmlArrays(256); }, nullptr},
    {"xml one deeper", [] { return hostile::deepXmlArrays(257); }, "(tag nesting depth 259: more than 258)"},
    {"xml 200,000 deep", [] { return hostile::deepXmlArrays(200'000); }, "tag nesting depth"},
    {"binary at the depth budget", [] { return hostile::deepBinaryArrays(256); }, nullptr},
    {"binary one deeper", [] { return hostile::deepBinaryArrays(257); }, "(nesting depth 257: more than 256)"},
    {"binary 95,000 deep", [] { return hostile::deepBinaryArrays(95'000); }, "nesting depth"},
    // Shared objects count each time they are expanded: 2^(levels+1)+1.
    {"shared arrays, 15 levels", [] { return hostile::sharedBinaryArrays(15); }, nullptr},
    {"shared arrays, 16 levels", [] { return hostile::sharedBinaryArrays(16); },
     "(expanded objects 100001: more than 100000)"},
    // Its leaves lie 33 deep: their indentation passes the byte budget first.
    {"shared arrays, 32 levels", [] { return hostile::sharedBinaryArrays(32); }, "(expanded bytes"},
    {"shared text, 20 MB expanded", [] { return hostile::sharedBinaryText(20'000, 1024); }, "expanded bytes"},
    {"cycle", [] { return hostile::binaryCycle(); }, "(object 2: contains itself)"},
    // Indentation counts as expanded bytes: 8 a level.
    {"xml 250 deep holding 5,000 leaves", [] { return hostile::deepXmlArraysHoldingLeaves(250, 5'000); }, nullptr},
    {"xml 250 deep holding 90,000 leaves", [] { return hostile::deepXmlArraysHoldingLeaves(250, 90'000); },
     "expanded bytes"},
    // Width: keys count as objects.
    {"xml dictionary of 40,000 keys", [] { return hostile::wideXmlDictionary(40'000); }, nullptr},
    {"xml dictionary of 300,000 keys", [] { return hostile::wideXmlDictionary(300'000); }, "elements"},
    {"binary dictionary of 40,000 keys", [] { return hostile::wideBinaryDictionary(40'000); }, nullptr},
    {"binary dictionary of 300,000 keys", [] { return hostile::wideBinaryDictionary(300'000); },
     "expanded objects"},
};

}  // namespace

TEST(PropertyListBudgets, ListsAtABudgetAreReadAndListsPastItAreRefusedQuickly) {
    for (const auto& c : kBudgetCases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = c.make();
        const auto start = std::chrono::steady_clock::now();
        const auto read = readPropertyList(bytes);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        // Only a runaway fails here (the old faults took tens of seconds or
        // crashed); the benchmark measures the one-second target.
        EXPECT_LT(took.count(), 10.0);
        if (c.refusal) {
            ASSERT_FALSE(read);
            EXPECT_NE(read.error().find(c.refusal), std::string::npos) << read.error();
            EXPECT_FALSE(parsePropertyList(bytes));
        } else {
            ASSERT_TRUE(read) << read.error();
            ASSERT_TRUE(*read);
            EXPECT_TRUE((*read)->is<Dictionary>());
        }
    }
}

TEST(PropertyListBudgets, ListsSharingABudgetAddUpAndARefusalSpendsTheRest) {
    const std::string fifteen = hostile::sharedBinaryArrays(15);  // 65,537 objects
    PropertyListBudget budget;
    EXPECT_TRUE(readPropertyList(fifteen, budget));
    EXPECT_EQ(budget.nodes, 65'537u);
    const auto second = readPropertyList(fifteen, budget);
    ASSERT_FALSE(second);
    EXPECT_NE(second.error().find("expanded objects 100001"), std::string::npos) << second.error();
    // Spent: even a list of one object is refused now.
    EXPECT_FALSE(readPropertyList("<plist><true/></plist>", budget));
    PropertyListBudget fresh;
    EXPECT_TRUE(readPropertyList("<plist><true/></plist>", fresh));
}

TEST(PropertyListBudgets, TheXmlScanCountsEveryTagLibplistCouldOpen) {
    const auto nested = [](const std::string& open, std::size_t levels) {
        std::string out = "<plist><dict><key>k</key>";
        for (std::size_t i = 0; i < levels; ++i) out += open;
        for (std::size_t i = 0; i < levels; ++i) out += "</array>";
        return out + "</dict></plist>";
    };
    struct Case {
        const char* name;
        std::string bytes;
        bool read;
    };
    const Case cases[] = {
        // libplist skips these, so a list may hold anything there.
        {"tags in a comment", "<plist><dict><!--" + nested("<array>", 300) + "--></dict></plist>", true},
        {"tags in a processing instruction", "<plist><?x " + nested("<array>", 300) + "?><dict/></plist>", true},
        {"tags in CDATA", "<plist><dict><key>k</key><string><![CDATA[" + nested("<array>", 300) +
                              "]]></string></dict></plist>", true},
        // A "/>" between double quotes ends no tag, for libplist as for the scan.
        {"quoted slash", nested("<array a=\"/>\">", 300), false},
        {"quoted slash at the budget", nested("<array a=\"/>\">", 256), true},
        // Single quotes are no quotes to libplist: the '>' ends the tag.
        {"single-quoted '>'", nested("<array a='>'>", 300), false},
        // A comment ends at its first "-->", however it goes on.
        {"comment closed early", "<plist><dict><!-- -->" + nested("<array>", 300).substr(13) + "-->", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto read = readPropertyList(c.bytes);
        if (c.read) {
            ASSERT_TRUE(read) << read.error();
            EXPECT_TRUE(*read);
        } else {
            EXPECT_FALSE(read);
        }
    }
}

TEST(PropertyListBudgets, MalformedBinaryListsAreNothingAndNoRefusal) {
    std::string shared = hostile::sharedBinaryArrays(4);
    struct Case {
        const char* name;
        std::function<void(std::string&)> corrupt;
    };
    const Case cases[] = {
        {"reference past the objects", [](std::string& b) { b[b.size() - 32 - 4 * 8 - 1] = 0x7F; }},
        {"offset past the table", [](std::string& b) { b[b.size() - 32 - 1] = 0x7F; }},
        {"root past the objects", [](std::string& b) { b[b.size() - 32 + 23] = 0x7F; }},
        {"reference size zero", [](std::string& b) { b[b.size() - 32 + 7] = 0; }},
        {"table inside the trailer", [](std::string& b) { b[b.size() - 1] = static_cast<char>(0xF0); }},
        {"cut short", [](std::string& b) { b.resize(b.size() - 40); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = shared;
        c.corrupt(bytes);
        const auto read = readPropertyList(bytes);
        ASSERT_TRUE(read) << read.error();
        EXPECT_FALSE(*read);
    }
}
