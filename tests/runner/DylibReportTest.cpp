// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>

#include "../TestSupport.h"
#include "inspector/InfoKeys.h"
#include "inspector/ViewController.h"

using namespace vesk;
namespace test = vesk::test;
using namespace vesk::platform;
using vesk::test::ScratchDir;

namespace {

const std::string kFixtures = std::string(VESK_FIXTURE_DIR) + "/dylib";
const std::string kFailure = "Unable to get info from this camera...";

class LibraryReport : public ::testing::Test {
protected:
    void SetUp() override {
        inspector = std::make_shared<ViewController>(t.services());
        store->addObserver([this](const std::string& key, const std::optional<std::string>& value) {
            changes.push_back(key + (value ? "=" + *value : " removed"));
        });
    }
    std::string copyFixture(const std::string& fixture, const std::string& name) {
        const auto target = dir.path() / name;
        std::filesystem::copy_file(kFixtures + "/" + fixture, target);
        return target.string();
    }
    std::string field1() const { return store->get(prefTextViewString1).value_or("<none>"); }
    void expectOnlyPathAndField1() const {
        for (const char* key : {prefTextViewString2, prefTextViewString3, prefTextViewString4, prefTextViewString5,
                                prefTextViewString6})
            EXPECT_FALSE(store->get(key)) << key;
    }

    ScratchDir dir;
    std::shared_ptr<MemoryUserDefaults> store = std::make_shared<MemoryUserDefaults>();
    test::TestServices t{store};
    NotificationCenter& center = t.center;
    std::shared_ptr<ViewController> inspector;
    std::vector<std::string> changes;
};

// Runs the test body with the scratch folder as working directory, so that a
// relative name an injection would create lands where the test looks.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::filesystem::path& dir) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~WorkingDirectory() { std::filesystem::current_path(previous_); }

private:
    std::filesystem::path previous_;
};

}  // namespace

TEST_F(LibraryReport, AThinLibraryShowsTheToolsDescriptionWithItsLineFeed) {
    const auto lib = copyFixture("libvesk-x86_64.dylib", "libthin.dylib");
    inspector->performGetDylibInfo(lib);
    EXPECT_EQ(store->get(prefCurFilePath), lib);
    EXPECT_TRUE(field1().starts_with(lib + ": Mach-O 64-bit x86_64 dynamically linked shared library")) << field1();
    EXPECT_TRUE(field1().ends_with("\n"));
    expectOnlyPathAndField1();
}

TEST_F(LibraryReport, TheStoreSeesTheClearThePathTheEmptyFieldThenTheText) {
    const auto lib = copyFixture("libvesk-arm64.dylib", "libarm.dylib");
    for (const char* key : kReportKeys) store->set(key, "earlier");
    changes.clear();
    inspector->performGetDylibInfo(lib);
    ASSERT_EQ(changes.size(), 10u);
    EXPECT_EQ(changes[6], "prefCurFilePath removed");
    EXPECT_EQ(changes[7], "prefCurFilePath=" + lib);
    EXPECT_EQ(changes[8], "prefTextViewString1=");
    EXPECT_EQ(changes[9], "prefTextViewString1=" + field1());
    EXPECT_NE(field1().find("arm64"), std::string::npos);
}

TEST_F(LibraryReport, AUniversalLibraryIsDescribedWithBothArchitectures) {
    const auto lib = copyFixture("libvesk-universal.dylib", "libfat.dylib");
    inspector->performGetDylibInfo(lib);
    EXPECT_TRUE(field1().starts_with(lib + ": Mach-O universal binary with 2 architectures")) << field1();
    EXPECT_NE(field1().find("x86_64"), std::string::npos);
    EXPECT_NE(field1().find("arm64"), std::string::npos);
}

TEST_F(LibraryReport, HostileNamesReachTheToolAsOnePathAndRunNothingElse) {
    WorkingDirectory cwd(dir.path());
    const std::vector<std::string> names{
        "with  blanks.dylib", "say \"hi\".dylib",     "it's.dylib",          "$(touch injected).dylib",
        "`touch injected`.dylib", "x; touch injected.dylib", "*.dylib",      "~tilde.dylib",
        "a | touch injected &.dylib", "$HOME.dylib",
    };
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        const auto lib = copyFixture("libvesk-x86_64.dylib", name);
        inspector->performGetDylibInfo(lib);
        EXPECT_EQ(store->get(prefCurFilePath), lib);
        EXPECT_TRUE(field1().starts_with(lib + ": Mach-O 64-bit x86_64")) << field1();
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "injected"));
}

TEST_F(LibraryReport, NamesTheToolPrintsEscapedAreStillDescribed) {
    // The tool shows a line break or an invalid byte in a name as an octal
    // escape, so its output stays valid text.
    for (const std::string name : {"line\nbreak.dylib", "in\xFFvalid.dylib"}) {
        SCOPED_TRACE(::testing::PrintToString(name));
        const auto lib = copyFixture("libvesk-x86_64.dylib", name);
        inspector->performGetDylibInfo(lib);
        EXPECT_EQ(store->get(prefCurFilePath), lib);
        EXPECT_NE(field1().find(": Mach-O 64-bit x86_64"), std::string::npos) << field1();
    }
}

TEST_F(LibraryReport, ARelativeNameStartingWithADashIsAPathNotAnOption) {
    WorkingDirectory cwd(dir.path());
    copyFixture("libvesk-x86_64.dylib", "-v.dylib");
    inspector->performGetDylibInfo("-v.dylib");
    EXPECT_EQ(store->get(prefCurFilePath), "-v.dylib");
    EXPECT_TRUE(field1().starts_with("./-v.dylib: Mach-O 64-bit x86_64")) << field1();
}

TEST_F(LibraryReport, AFolderNamedLikeALibraryShowsWhatTheToolSaysOfAFolder) {
    const auto folder = dir.path() / "x.dylib";
    std::filesystem::create_directory(folder);
    inspector->performGetDylibInfo(folder.string());
    EXPECT_EQ(field1(), folder.string() + ": directory\n");
    expectOnlyPathAndField1();
}

TEST_F(LibraryReport, WhateverTheToolPrintsForANonLibraryIsShown) {
    const auto text = dir.write("fake.dylib", "just words\n");
    inspector->performGetDylibInfo(text);
    EXPECT_TRUE(field1().starts_with(text + ": ")) << field1();
    EXPECT_NE(field1(), kFailure);
}

TEST_F(LibraryReport, ASecondReportReplacesTheFirst) {
    const auto first = copyFixture("libvesk-x86_64.dylib", "first.dylib");
    const auto second = copyFixture("libvesk-universal.dylib", "second.dylib");
    inspector->performGetDylibInfo(first);
    store->set(prefTextViewString3, "left by someone else");
    inspector->performGetDylibInfo(second);
    EXPECT_EQ(store->get(prefCurFilePath), second);
    EXPECT_TRUE(field1().starts_with(second + ": Mach-O universal binary")) << field1();
    EXPECT_EQ(field1().find(first), std::string::npos);
    expectOnlyPathAndField1();
}

TEST_F(LibraryReport, TheFileAddEventRoutesALibraryToTheReport) {
    const auto lib = copyFixture("libvesk-x86_64.dylib", "routed.DYLIB");
    inspector->viewDidLoad();
    center.post(kAddFromFileNotification, Value(Array{Value(Url{lib})}));
    EXPECT_TRUE(field1().starts_with(lib + ": Mach-O")) << field1();
}

// A Mach-O library the drop area takes by its first bytes, whatever its name
// (none, or a version number after .so), gets the library report too.
TEST_F(LibraryReport, ALibraryKnownByItsContentIsRoutedToTheReport) {
    inspector->viewDidLoad();
    for (const char* name : {"libvesk", "libvesk.so.1", "Vesk Library"}) {
        SCOPED_TRACE(name);
        const auto lib = copyFixture("libvesk-universal.dylib", name);
        EXPECT_EQ(t.types.typeOfFile(lib), kUTTypeMachODylib);
        center.post(kAddFromFileNotification, Value(Array{Value(lib)}));
        EXPECT_EQ(t.mainQueue.pending(), 0u);  // at once, like .dylib
        EXPECT_EQ(store->get(prefCurFilePath), lib);
        EXPECT_TRUE(field1().starts_with(lib + ": Mach-O universal binary")) << field1();
        expectOnlyPathAndField1();
    }
    // Other content under no name still goes to the image report.
    const auto text = dir.write("README", "words");
    center.post(kAddFromFileNotification, Value(Array{Value(text)}));
    EXPECT_EQ(t.mainQueue.pending(), 1u);
    t.drainMainQueue();
}

TEST_F(LibraryReport, EachOutcomeIsToldInPlainWords) {
    std::vector<ReportOutcome> told;
    inspector->setOutcomeHandler([&](const ReportOutcome& o) { told.push_back(o); });
    const auto lib = copyFixture("libvesk-x86_64.dylib", "good.dylib");
    const auto notMachO = dir.write("fake.dylib", "just some words, no Mach-O header here");
    const auto unreadable = copyFixture("libvesk-arm64.dylib", "locked.dylib");
    std::filesystem::permissions(unreadable, std::filesystem::perms::none);
    const struct {
        std::string path;
        std::string text;
        bool failed;
    } cases[] = {
        {lib, "Described by the file tool", false},
        {notMachO, "Not a Mach-O file", true},
        {unreadable, "Cannot read: permission denied", true},
        {dir.file("gone.dylib"), "No such file", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        told.clear();
        {
            const test::PermissionsBind asAUser;
            inspector->performGetDylibInfo(c.path);
        }
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0], (ReportOutcome{c.path, c.text, {}, c.failed}));
    }
}
