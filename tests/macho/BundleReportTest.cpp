// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>

#include "../TestSupport.h"
#include "inspector/InfoKeys.h"
#include "inspector/Routing.h"
#include "inspector/Summary.h"
#include "inspector/ViewController.h"
#include "platform/Log.h"
#include "platform/macho/Bundle.h"

using namespace vesk;
namespace test = vesk::test;
using namespace vesk::platform;
using vesk::test::ScratchDir;

namespace {

std::string fixture(const std::string& name) { return std::string(VESK_MACHO_FIXTURES "/") + name; }

using Lines = std::vector<std::string>;

class BundleReport : public ::testing::Test {
protected:
    void SetUp() override {
        inspector = std::make_shared<ViewController>(t.services());
        store->addObserver([this](const std::string& key, const std::optional<std::string>& value) {
            changes.push_back(key + (value ? "=" + *value : " removed"));
        });
    }

    // Field 1 after a report on `name`, and the log lines that report wrote.
    std::string report(const std::string& path) {
        log.clear();
        inspector->performGetBundleInfo(path);
        return store->get(prefTextViewString1).value_or("<missing>");
    }

    std::shared_ptr<MemoryUserDefaults> store = std::make_shared<MemoryUserDefaults>();
    test::TestServices t{store};
    NotificationCenter& center = t.center;
    std::shared_ptr<ViewController> inspector;
    Lines changes;
    platform::CaptureLogSink& log = t.logSink;
};

}  // namespace

TEST_F(BundleReport, UniversalBundleListsItsSlicesInFileOrder) {
    const std::string path = fixture("Universal.bundle");
    EXPECT_EQ(report(path), "NSBundleExecutableArchitectureX86_64 \nNSBundleExecutableArchitectureI386 \n");
    EXPECT_EQ(log.lines(), (Lines{"supported architectures = (\n    16777223,\n    7\n)",
                                  "NSBundleExecutableArchitectureX86_64", "NSBundleExecutableArchitectureI386"}));
}

TEST_F(BundleReport, TheStoreSeesTheClearThePathTheEmptyFieldThenTheReport) {
    // A previous report left every field and the path set.
    for (const auto& field : kInfoFields) store->set(field.key, "left over");
    store->set(prefCurFilePath, "/previous");
    changes.clear();
    const std::string path = fixture("Thin64.bundle");
    report(path);
    Lines expected;
    for (const auto& field : kInfoFields) expected.push_back(std::string(field.key) + " removed");
    expected.push_back(std::string(prefCurFilePath) + " removed");
    expected.push_back(std::string(prefCurFilePath) + "=" + path);
    expected.push_back(std::string(prefTextViewString1) + "=");
    expected.push_back(std::string(prefTextViewString1) + "=NSBundleExecutableArchitectureX86_64 \n");
    EXPECT_EQ(changes, expected);
    for (const char* key : {prefTextViewString2, prefTextViewString3, prefTextViewString4, prefTextViewString5,
                            prefTextViewString6})
        EXPECT_FALSE(store->get(key)) << key;
}

TEST_F(BundleReport, EachFixtureGivesItsExactLines) {
    const std::pair<const char*, const char*> cases[] = {
        {"Thin64.bundle", "NSBundleExecutableArchitectureX86_64 \n"},
        {"ThinArm64.bundle", "NSBundleExecutableArchitectureARM64 \n"},
        {"PowerPC.bundle", "NSBundleExecutableArchitecturePPC \nNSBundleExecutableArchitecturePPC64 \n"},
        // The same code twice: two equal lines, nothing merged.
        {"Twice.bundle", "NSBundleExecutableArchitectureX86_64 \nNSBundleExecutableArchitectureX86_64 \n"},
        {"Fat64.bundle", "NSBundleExecutableArchitectureX86_64 \nNSBundleExecutableArchitectureARM64 \n"},
        {"Flat.bundle", "NSBundleExecutableArchitectureARM64 \n"},
        {"UPPER.BUNDLE", "NSBundleExecutableArchitectureX86_64 \n"},
        {"NoExecutable.bundle", ""},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        const std::string field = report(fixture(name));
        EXPECT_EQ(field, text);
        // Every line ends in a blank, then a line feed.
        for (std::size_t nl = field.find('\n'); nl != std::string::npos; nl = field.find('\n', nl + 1))
            EXPECT_EQ(field[nl - 1], ' ');
        if (!field.empty()) {
            EXPECT_EQ(field.back(), '\n');
        }
    }
}

TEST_F(BundleReport, NotABundleStillRecordsThePathAndAnEmptyField) {
    const std::string path = fixture("x.bundle");
    EXPECT_EQ(report(path), "");
    EXPECT_EQ(store->get(prefCurFilePath), path);
    EXPECT_EQ(log.lines(), Lines{"supported architectures = (null)"});
    EXPECT_EQ(report(fixture("NoExecutable.bundle")), "");
    EXPECT_EQ(log.lines(), Lines{"supported architectures = (null)"});
}

TEST_F(BundleReport, UnknownCodesTakeTheLastRow) {
    ScratchDir dir;
    // A thin big-endian header for CPU_TYPE_SPARC (14), which the table does not name.
    dir.write("Sparc.bundle/Contents/MacOS/Sparc",
              std::string("\xfe\xed\xfa\xce\x00\x00\x00\x0e\x00\x00\x00\x00\x00\x00\x00\x08"
                          "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 28));
    EXPECT_EQ(report(dir.file("Sparc.bundle")), "Unknown_Architecture \n");
    EXPECT_EQ(log.lines(), (Lines{"supported architectures = (\n    14\n)", "Unknown_Architecture"}));

    log.clear();
    EXPECT_TRUE(inspector->isModuleAtPath(dir.file("Sparc.bundle"), 14));
    EXPECT_EQ(log.lines(), (Lines{"supported architectures = (\n    14\n)", "Unknown_Architecture"}));
}

TEST_F(BundleReport, NoPathOrNothingThereChangesNothingAndLogsNothing) {
    store->set(prefTextViewString1, "previous");
    changes.clear();
    report(std::string());
    inspector->performGetBundleInfo(std::nullopt);
    report(fixture("missing.bundle"));
    EXPECT_TRUE(changes.empty());
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(store->get(prefTextViewString1), "previous");
    EXPECT_FALSE(inspector->isModuleAtPath(std::nullopt, 7));
    EXPECT_FALSE(inspector->isModuleAtPath(fixture("missing.bundle"), 7));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(BundleReport, TheQueryStopsAtTheFirstMatchingCode) {
    const std::string path = fixture("Universal.bundle");
    const std::string list = "supported architectures = (\n    16777223,\n    7\n)";
    changes.clear();

    EXPECT_TRUE(inspector->isModuleAtPath(path, 7));
    EXPECT_EQ(log.lines(), (Lines{list, "NSBundleExecutableArchitectureX86_64", "NSBundleExecutableArchitectureI386"}));

    log.clear();
    EXPECT_FALSE(inspector->isModuleAtPath(path, 18));
    EXPECT_EQ(log.lines(), (Lines{list, "NSBundleExecutableArchitectureX86_64", "NSBundleExecutableArchitectureI386"}));

    // A match on the first slice leaves the second unexamined and unlogged.
    log.clear();
    EXPECT_TRUE(inspector->isModuleAtPath(path, 16777223));
    EXPECT_EQ(log.lines(), (Lines{list, "NSBundleExecutableArchitectureX86_64"}));

    log.clear();
    EXPECT_FALSE(inspector->isModuleAtPath(fixture("x.bundle"), 7));
    EXPECT_EQ(log.lines(), Lines{"supported architectures = (null)"});

    EXPECT_TRUE(changes.empty()) << "the query never touches the store";
}

TEST_F(BundleReport, RoutedBundlesAreReportedOnThePostingThread) {
    inspector->viewDidLoad();
    center.post(kAddFromFileNotification, Value(Array{Value(fixture("UPPER.BUNDLE"))}));
    EXPECT_EQ(store->get(prefTextViewString1), "NSBundleExecutableArchitectureX86_64 \n");
}

// Everything the drop area takes as a bundle gets the bundle report: the
// bundle types whose names routing did not list (.app, .framework, .plugin),
// in their own layouts. Routed at once, on the posting thread, as .bundle is.
TEST_F(BundleReport, EveryBundleTypeTheDropAreaTakesIsRoutedToTheBundleReport) {
    const std::string universal = "NSBundleExecutableArchitectureX86_64 \nNSBundleExecutableArchitectureARM64 \n";
    const struct {
        const char* name;
        std::string field1;
        const char* summary;  // what the details view and --summary show
    } cases[] = {
        {"Viewer.app", universal, "x86_64, arm64 (universal)"},                    // Contents/MacOS
        {"Filter.plugin", "NSBundleExecutableArchitectureX86_64 \n", "x86_64"},     // binary Info.plist
        {"Kit.framework", universal, "x86_64, arm64 (universal)"},                 // Versions/Current, linked
        {"Unlinked.framework", "NSBundleExecutableArchitectureARM64 \n", "arm64"},  // Versions/A, no links
    };
    inspector->viewDidLoad();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(t.types.conformsTo(t.types.typeOfFile(fixture(c.name)).value_or(""), kUTTypeBundle));
        ASSERT_EQ(reportKindFor(fixture(c.name), t.types), ReportKind::Bundle);
        center.post(kAddFromFileNotification, Value(Array{Value(fixture(c.name))}));
        EXPECT_EQ(t.mainQueue.pending(), 0u);
        EXPECT_EQ(store->get(prefCurFilePath), fixture(c.name));
        EXPECT_EQ(store->get(prefTextViewString1), c.field1);
        const Details details = detailsFor(fixture(c.name), ReportKind::Bundle, c.field1, Log(log));
        ASSERT_GE(details.summary.lines.size(), 1u);  // the code line follows
        EXPECT_EQ(details.summary.lines[0].text, c.summary);
    }
    // A plain folder is no bundle: the image report, as before.
    ScratchDir dir;
    std::filesystem::create_directory(dir.path() / "Photos");
    EXPECT_EQ(reportKindFor((dir.path() / "Photos").string(), t.types), ReportKind::Image);
}

TEST_F(BundleReport, FrameworksFindTheirVersionedExecutable) {
    const auto kit = Bundle::bundleWithPath(fixture("Kit.framework"));
    ASSERT_TRUE(kit);
    EXPECT_EQ(kit->executablePath(), fixture("Kit.framework/Versions/A/Kit"));
    const auto unlinked = Bundle::bundleWithPath(fixture("Unlinked.framework"));
    ASSERT_TRUE(unlinked);
    EXPECT_EQ(unlinked->executablePath(), fixture("Unlinked.framework/Versions/A/Unlinked"));
}

// What the status line is told of each bundle report.
TEST_F(BundleReport, EachOutcomeIsToldInPlainWords) {
    std::vector<ReportOutcome> told;
    inspector->setOutcomeHandler([&](const ReportOutcome& o) { told.push_back(o); });
    // A header cut short after its file type: a Mach-O, but a damaged one.
    ScratchDir dir;
    dir.write("Cut.bundle/Contents/MacOS/Cut", std::string("\xcf\xfa\xed\xfe\x0c\0\0\x01\0\0\0\0\x08\0\0\0\0\0\0\0", 20));
    const struct {
        std::string path;
        std::string text;
        bool failed;
    } cases[] = {
        {fixture("Universal.bundle"), "2 architectures in the bundle's executable", false},
        {fixture("Thin64.bundle"), "1 architecture in the bundle's executable", false},
        {fixture("NoExecutable.bundle"), "No executable in this bundle", true},
        {fixture("Script.app"), "The bundle's executable is not a Mach-O file", true},
        {fixture("x.bundle"), "Not a bundle: not a folder", true},
        {dir.file("Cut.bundle"),
         "The bundle's executable is a damaged Mach-O file: truncated or malformed object (file size 0x14: shorter "
         "than a mach_header_64)",
         true},
        {fixture("gone.bundle"), "No such file", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        told.clear();
        inspector->performGetBundleInfo(c.path);
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0].path, c.path);
        EXPECT_EQ(told[0].text, c.text);
        EXPECT_EQ(told[0].failed, c.failed);
    }
    told.clear();
    inspector->performGetBundleInfo(std::nullopt);
    EXPECT_TRUE(told.empty());
}
