// SPDX-License-Identifier: GPL-3.0-or-later
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "../TestSupport.h"
#include "platform/Log.h"
#include "platform/macho/Bundle.h"
#include "platform/macho/MachOConstants.h"

using namespace vesk::platform;
using namespace vesk::platform::macho;
using vesk::test::readFile;
using vesk::test::ScratchDir;
namespace fs = std::filesystem;

namespace {

using Codes = std::optional<std::vector<std::int32_t>>;
Codes codes(std::initializer_list<std::int32_t> list) { return std::vector<std::int32_t>(list); }

std::string fixture(const std::string& name) { return std::string(VESK_MACHO_FIXTURES "/") + name; }

// What the bundle reader logs, kept for the cases that look at it.
CaptureLogSink& readerLog() {
    static CaptureLogSink sink;
    return sink;
}

Codes architecturesAt(const std::string& path) {
    auto bundle = Bundle::bundleWithPath(path);
    if (!bundle) return std::nullopt;
    return bundle->executableArchitectures(Log(readerLog()));
}

std::string plist(const std::string& executable) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleExecutable</key><string>" + executable + "</string></dict></plist>\n";
}

// A real x86_64 bundle executable from the fixtures.
std::string x86_64Executable() { return readFile(fixture("slices/x86_64.bundle")); }

}  // namespace

TEST(BundleExecutable, FixturesYieldEverySliceInFileOrder) {
    EXPECT_EQ(architecturesAt(fixture("Thin64.bundle")), codes({CPU_TYPE_X86_64}));
    EXPECT_EQ(architecturesAt(fixture("ThinArm64.bundle")), codes({CPU_TYPE_ARM64}));  // binary Info.plist
    EXPECT_EQ(architecturesAt(fixture("Universal.bundle")), codes({CPU_TYPE_X86_64, CPU_TYPE_I386}));
    EXPECT_EQ(architecturesAt(fixture("PowerPC.bundle")), codes({CPU_TYPE_POWERPC, CPU_TYPE_POWERPC64}));
    EXPECT_EQ(architecturesAt(fixture("Twice.bundle")), codes({CPU_TYPE_X86_64, CPU_TYPE_X86_64}));
    EXPECT_EQ(architecturesAt(fixture("Fat64.bundle")), codes({CPU_TYPE_X86_64, CPU_TYPE_ARM64}));
    EXPECT_EQ(architecturesAt(fixture("Flat.bundle")), codes({CPU_TYPE_ARM64}));
    EXPECT_EQ(architecturesAt(fixture("UPPER.BUNDLE")), codes({CPU_TYPE_X86_64}));
}

TEST(BundleExecutable, InfoPlistNameWinsOverTheBundleName) {
    const auto path = Bundle::bundleWithPath(fixture("Thin64.bundle"))->executablePath();
    ASSERT_TRUE(path);
    EXPECT_EQ(fs::path(*path).filename(), "Thin64Exec");
    // No Info.plist: the bundle's name without its extension.
    EXPECT_EQ(fs::path(*Bundle::bundleWithPath(fixture("UPPER.BUNDLE/"))->executablePath()).filename(), "UPPER");
}

TEST(BundleExecutable, NoBundleOrNoExecutableGivesNothing) {
    EXPECT_FALSE(Bundle::bundleWithPath(fixture("x.bundle")));  // a plain file
    EXPECT_FALSE(Bundle::bundleWithPath(fixture("missing.bundle")));
    EXPECT_EQ(architecturesAt(fixture("NoExecutable.bundle")), std::nullopt);
}

TEST(BundleExecutable, UnreadableExecutablesGiveNothing) {
    ScratchDir dir;
    dir.write("Folder.bundle/Contents/Info.plist", plist("Folder"));
    fs::create_directories(dir.path() / "Folder.bundle/Contents/MacOS/Folder");
    EXPECT_EQ(architecturesAt(dir.file("Folder.bundle")), std::nullopt);

    fs::create_directories(dir.path() / "Dangling.bundle/Contents/MacOS");
    fs::create_symlink("nowhere", dir.path() / "Dangling.bundle/Contents/MacOS/Dangling");
    EXPECT_EQ(architecturesAt(dir.file("Dangling.bundle")), std::nullopt);

    // A FIFO as the executable must not stall the reader.
    fs::create_directories(dir.path() / "Fifo.bundle/Contents/MacOS");
    ASSERT_EQ(::mkfifo(dir.file("Fifo.bundle/Contents/MacOS/Fifo").c_str(), 0600), 0);
    EXPECT_EQ(architecturesAt(dir.file("Fifo.bundle")), std::nullopt);

    // Java class files share the universal magic. The reader's reason is logged, once.
    const std::string javaClass("\xca\xfe\xba\xbe\x00\x00\x00\x34\x00\x10\x0a\x00", 12);
    const std::string java = dir.write("Java.bundle/Contents/MacOS/Java", javaClass);
    {
        auto& log = readerLog();
        log.clear();
        EXPECT_EQ(architecturesAt(dir.file("Java.bundle")), std::nullopt);
        EXPECT_EQ(log.lines(), std::vector<std::string>{
                                   "malformed executable " + fs::canonical(java).string() +
                                   ": truncated or malformed fat file (nfat_arch 0x34: more architectures than a "
                                   "universal file holds; a Java class file shares its magic)"});
    }

    dir.write("Text.bundle/Contents/MacOS/Text", "#!/bin/sh\necho not Mach-O\n");
    EXPECT_EQ(architecturesAt(dir.file("Text.bundle")), std::nullopt);
}

TEST(BundleExecutable, ACorruptInfoPlistLeavesTheBundleName) {
    ScratchDir dir;
    dir.write("Corrupt.bundle/Contents/Info.plist", "<?xml version=\"1.0\"?><plist><dict><key>CFBundleExec");
    dir.write("Corrupt.bundle/Contents/MacOS/Other", x86_64Executable());
    EXPECT_EQ(architecturesAt(dir.file("Corrupt.bundle")), std::nullopt);
    dir.write("Corrupt.bundle/Contents/MacOS/Corrupt", x86_64Executable());
    EXPECT_EQ(architecturesAt(dir.file("Corrupt.bundle")), codes({CPU_TYPE_X86_64}));
}

TEST(BundleExecutable, NamesAndLinksNeverLeadOutOfTheBundle) {
    ScratchDir dir;
    const std::string outside = dir.write("outside/Victim", x86_64Executable());

    // Each of these would find a readable Mach-O if it followed the way out.
    dir.write("DotDot.bundle/Contents/Info.plist", plist("../../../outside/Victim"));
    EXPECT_EQ(architecturesAt(dir.file("DotDot.bundle")), std::nullopt);

    dir.write("Passwd.bundle/Contents/Info.plist", plist("../../etc/passwd"));
    EXPECT_EQ(architecturesAt(dir.file("Passwd.bundle")), std::nullopt);

    dir.write("Slash.bundle/Contents/Info.plist", plist("Sub/Exec"));
    dir.write("Slash.bundle/Contents/MacOS/Sub/Exec", x86_64Executable());
    EXPECT_EQ(architecturesAt(dir.file("Slash.bundle")), std::nullopt);

    dir.write("Dots.bundle/Contents/Info.plist", plist(".."));
    EXPECT_EQ(architecturesAt(dir.file("Dots.bundle")), std::nullopt);

    fs::create_directories(dir.path() / "Link.bundle/Contents/MacOS");
    fs::create_symlink(outside, dir.path() / "Link.bundle/Contents/MacOS/Link");
    EXPECT_EQ(architecturesAt(dir.file("Link.bundle")), std::nullopt);

    fs::create_directories(dir.path() / "MacOSLink.bundle/Contents");
    fs::create_symlink(dir.path() / "outside", dir.path() / "MacOSLink.bundle/Contents/MacOS");
    dir.write("MacOSLink.bundle/Contents/Info.plist", plist("Victim"));
    EXPECT_EQ(architecturesAt(dir.file("MacOSLink.bundle")), std::nullopt);

    // An Info.plist linked from outside is not read: the name falls back to the
    // bundle's own, which is absent here.
    dir.write("outside/Info.plist", plist("Victim"));
    fs::create_directories(dir.path() / "PlistLink.bundle/Contents/MacOS");
    fs::create_symlink(dir.path() / "outside/Info.plist", dir.path() / "PlistLink.bundle/Contents/Info.plist");
    dir.write("PlistLink.bundle/Contents/MacOS/Victim", x86_64Executable());
    EXPECT_EQ(architecturesAt(dir.file("PlistLink.bundle")), std::nullopt);
}

TEST(BundleExecutable, LinksInsideTheBundleAreFollowed) {
    ScratchDir dir;
    dir.write("Versions.bundle/Contents/Versions/A/Versions", x86_64Executable());
    fs::create_directories(dir.path() / "Versions.bundle/Contents/MacOS");
    fs::create_symlink("../Versions/A/Versions", dir.path() / "Versions.bundle/Contents/MacOS/Versions");
    EXPECT_EQ(architecturesAt(dir.file("Versions.bundle")), codes({CPU_TYPE_X86_64}));

    // The bundle path itself may be a link to the bundle folder.
    fs::create_directory_symlink(fixture("Universal.bundle"), dir.path() / "Alias.bundle");
    EXPECT_EQ(architecturesAt(dir.file("Alias.bundle")), codes({CPU_TYPE_X86_64, CPU_TYPE_I386}));
}
