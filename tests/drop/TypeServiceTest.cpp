// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "../TestSupport.h"
#include "platform/TypeService.h"

using namespace vesk::platform;
using vesk::test::ScratchDir;

namespace {

const std::string kFixtures = std::string(VESK_FIXTURE_DIR) + "/drop/";

const FileTypeService kTypes;

std::optional<std::string> typeOf(const std::string& path) { return kTypes.typeOfFile(path); }
bool conforms(const std::string& type, const std::string& parent) { return kTypes.conformsTo(type, parent); }

std::string bytes(std::initializer_list<unsigned> list) {
    std::string out;
    for (unsigned b : list) out += static_cast<char>(b);
    return out;
}

// A thin Mach-O header: magic, cputype, cpusubtype, filetype, then padding,
// every field in the byte order the magic announces.
std::string thinHeader(bool bigEndian, bool is64, std::uint32_t fileType) {
    auto word = [&](std::uint32_t v) {
        return bigEndian ? bytes({v >> 24, (v >> 16) & 0xff, (v >> 8) & 0xff, v & 0xff})
                         : bytes({v & 0xff, (v >> 8) & 0xff, (v >> 16) & 0xff, v >> 24});
    };
    std::string h = word(is64 ? 0xfeedfacf : 0xfeedface);
    h += word(is64 ? 0x01000007 : 7);  // cputype x86(_64)
    h += word(3);                       // cpusubtype
    h += word(fileType);
    h += std::string(is64 ? 16 : 12, '\0');  // ncmds, sizeofcmds, flags[, reserved]
    return h;
}

std::string be32(std::uint32_t v) { return bytes({v >> 24, (v >> 16) & 0xff, (v >> 8) & 0xff, v & 0xff}); }

// A fat file whose arch table points at the given offsets; slices are placed by the caller.
std::string fatHeader(const std::vector<std::uint32_t>& offsets) {
    std::string h = be32(0xcafebabe) + be32(static_cast<std::uint32_t>(offsets.size()));
    for (auto off : offsets) h += be32(7) + be32(3) + be32(off) + be32(64) + be32(12);
    return h;
}

}  // namespace

TEST(TypeIdentification, ExtensionDecidesWhateverTheContent) {
    ScratchDir dir;
    EXPECT_EQ(typeOf(dir.write("a.jpg", "not really")), "public.jpeg");
    EXPECT_EQ(typeOf(dir.write("b.JPEG", "")), "public.jpeg");
    EXPECT_EQ(typeOf(dir.write("c.jpe", "")), "public.jpeg");
    for (const char* ext : {"jp2", "jpf", "jpx", "j2k", "J2C"})
        EXPECT_EQ(typeOf(dir.write(std::string("d.") + ext, "")), "public.jpeg-2000") << ext;
    EXPECT_EQ(typeOf(dir.write("e.tif", "")), "public.tiff");
    EXPECT_EQ(typeOf(dir.write("f.TIFF", "")), "public.tiff");
    EXPECT_EQ(typeOf(dir.write("lib.dylib", "text")), "com.apple.mach-o-dylib");
    // A known extension is believed over the bytes.
    EXPECT_EQ(typeOf(dir.write("notes.txt", bytes({0xff, 0xd8, 0xff, 0xe0}))), "public.plain-text");
}

TEST(TypeIdentification, FirstBytesSpeakWhenTheNameSaysNothing) {
    EXPECT_EQ(typeOf(kFixtures + "photo-no-extension"), "public.jpeg");
    EXPECT_EQ(typeOf(kFixtures + "scan-no-extension"), "public.tiff");
    EXPECT_EQ(typeOf(kFixtures + "picture-no-extension"), "public.jpeg-2000");
    ScratchDir dir;
    EXPECT_EQ(typeOf(dir.write("holiday.xyz", bytes({0xff, 0xd8, 0xff, 0xdb}))), "public.jpeg");
    EXPECT_EQ(typeOf(dir.write("be-tiff", "MM" + bytes({0, 42}))), "public.tiff");
    EXPECT_EQ(typeOf(dir.write("codestream", bytes({0xff, 0x4f, 0xff, 0x51, 0}))), "public.jpeg-2000");
    EXPECT_EQ(typeOf(dir.write("plain", "hello")), "public.data");
    EXPECT_EQ(typeOf(dir.write("empty", "")), "public.data");
}

TEST(TypeIdentification, TodaysPhotoFormatsByNameAndByBrand) {
    ScratchDir dir;
    const struct {
        const char* name;
        std::string content;
        const char* type;
    } cases[] = {
        {"a.heic", "", "public.heic"},
        {"b.HEIF", "", "public.heif"},
        {"c.HIF", "", "public.heif"},
        {"d.avif", "", "public.avif"},
        {"e.jxl", "", "public.jpeg-xl"},
        {"f.CR3", "", "com.canon.cr3-raw-image"},
        // The 'ftyp' box's major brand when the name says nothing.
        {"iphone", be32(24) + "ftypheic" + be32(0) + "mif1heic", "public.heic"},
        {"sony", be32(24) + "ftypmif1" + be32(0) + "mif1heic", "public.heif"},
        {"browser", be32(20) + "ftypavif" + be32(0) + "mif1", "public.avif"},
        {"canon", be32(24) + "ftypcrx " + be32(1) + "crx isom", "com.canon.cr3-raw-image"},
        {"jxl-box", bytes({0, 0, 0, 12, 'J', 'X', 'L', ' ', 0x0d, 0x0a, 0x87, 0x0a}), "public.jpeg-xl"},
        {"jxl-bare", bytes({0xff, 0x0a, 0xfa, 0x1f}), "public.jpeg-xl"},
        // A video's brand, and a box that is no 'ftyp', are no photos.
        {"movie", be32(20) + "ftypisom" + be32(0) + "isom", "public.data"},
        {"moov-first", be32(16) + "moovheic" + be32(0), "public.data"},
    };
    for (const auto& c : cases) EXPECT_EQ(typeOf(dir.write(c.name, c.content)), c.type) << c.name;
    for (const char* type : {"public.heic", "public.heif", "public.avif", "public.jpeg-xl", "com.canon.cr3-raw-image"})
        EXPECT_TRUE(conforms(type, "public.image")) << type;
    EXPECT_TRUE(conforms("public.heic", kUTTypeHEIF));
    EXPECT_FALSE(conforms("public.heif", "public.heic"));
    EXPECT_FALSE(conforms("public.avif", kUTTypeJPEG));
}

TEST(TypeIdentification, LinkedMachOLibrariesAreDylibs) {
    for (const char* name : {"thin-arm64-dylib", "thin-x86_64-dylib", "fat-dylib", "libfixture.dylib"})
        EXPECT_EQ(typeOf(kFixtures + name), "com.apple.mach-o-dylib") << name;
}

TEST(TypeIdentification, MachOHeadersInEveryByteOrderAndWidth) {
    ScratchDir dir;
    const std::uint32_t MH_EXECUTE = 2, MH_DYLIB = 6;
    EXPECT_EQ(typeOf(dir.write("be32", thinHeader(true, false, MH_DYLIB))), "com.apple.mach-o-dylib");
    EXPECT_EQ(typeOf(dir.write("le32", thinHeader(false, false, MH_DYLIB))), "com.apple.mach-o-dylib");
    EXPECT_EQ(typeOf(dir.write("be64", thinHeader(true, true, MH_DYLIB))), "com.apple.mach-o-dylib");
    EXPECT_EQ(typeOf(dir.write("le64", thinHeader(false, true, MH_DYLIB))), "com.apple.mach-o-dylib");
    // The file type is read in the header's order: 6 big-endian read little would be 0x06000000.
    const auto tool = typeOf(dir.write("tool", thinHeader(false, true, MH_EXECUTE)));
    ASSERT_TRUE(tool);
    EXPECT_FALSE(conforms(*tool, "com.apple.mach-o-dylib"));
    EXPECT_TRUE(conforms(*tool, "public.executable"));
    // Cut before the file type: not a Mach-O at all.
    EXPECT_EQ(typeOf(dir.write("cut", thinHeader(false, true, MH_DYLIB).substr(0, 14))), "public.data");
}

TEST(TypeIdentification, FatFilesAreCheckedBeforeTheyAreBelieved) {
    ScratchDir dir;
    const std::string slice = thinHeader(false, true, 6);
    // First slice beyond the end of the file, second one real.
    std::string fat = fatHeader({0x7fffffff, 4096});
    fat.resize(4096, '\0');
    EXPECT_EQ(typeOf(dir.write("fat-skip", fat + slice)), "com.apple.mach-o-dylib");

    // 64-bit fat table: offsets are 64-bit, one far past any file.
    std::string fat64 = be32(0xcafebabf) + be32(1) + be32(7) + be32(3) + be32(0) + be32(4096) +
                        be32(0) + be32(64) + be32(12) + be32(0);
    fat64.resize(4096, '\0');
    EXPECT_EQ(typeOf(dir.write("fat64", fat64 + slice)), "com.apple.mach-o-dylib");
    std::string fat64Far = be32(0xcafebabf) + be32(1) + be32(7) + be32(3) + be32(0xffffffff) + be32(0xfffffff0) +
                           be32(0) + be32(64) + be32(12) + be32(0);
    EXPECT_EQ(typeOf(dir.write("fat64-far", fat64Far)), "public.data");

    // A Java class file shares the magic; its version reads as a huge slice count.
    EXPECT_EQ(typeOf(dir.write("Main", be32(0xcafebabe) + bytes({0, 0, 0, 52}) + std::string(64, 'x'))),
              "public.data");
    EXPECT_EQ(typeOf(dir.write("no-slices", fatHeader({}))), "public.data");
    // A count the table does not fit.
    EXPECT_EQ(typeOf(dir.write("short-table", be32(0xcafebabe) + be32(30) + std::string(20, '\0'))), "public.data");
    // A slice that is itself fat is not followed.
    std::string nested = fatHeader({4096});
    nested.resize(4096, '\0');
    EXPECT_EQ(typeOf(dir.write("nested", nested + fatHeader({0}))), "public.data");
}

TEST(TypeIdentification, FoldersByName) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.file("x.bundle"));
    std::filesystem::create_directories(dir.file("Upper.BUNDLE"));
    std::filesystem::create_directories(dir.file("plain"));
    std::filesystem::create_directories(dir.file("pics.jpg"));
    EXPECT_EQ(typeOf(dir.file("x.bundle")), "com.apple.bundle");
    EXPECT_EQ(typeOf(dir.file("x.bundle/")), "com.apple.bundle");
    EXPECT_EQ(typeOf(dir.file("Upper.BUNDLE")), "com.apple.bundle");
    EXPECT_EQ(typeOf(dir.file("plain")), "public.folder");
    // A folder's name cannot make it a file kind, nor a file's name a folder kind.
    EXPECT_EQ(typeOf(dir.file("pics.jpg")), "public.folder");
    EXPECT_EQ(typeOf(dir.write("flat.bundle", "x")), "public.data");
}

TEST(TypeIdentification, NothingForWhatIsNotThereOrCannotBeRead) {
    ScratchDir dir;
    EXPECT_EQ(typeOf(dir.file("gone.jpg")), std::nullopt);
    EXPECT_EQ(typeOf(""), std::nullopt);
    std::filesystem::create_symlink(dir.file("gone.jpg"), dir.file("dangling.jpg"));
    EXPECT_EQ(typeOf(dir.file("dangling.jpg")), std::nullopt);
    const std::string real = dir.write("real.jpg", "x");
    std::filesystem::create_symlink(real, dir.file("link"));
    EXPECT_EQ(typeOf(dir.file("link")), "public.jpeg");  // a link is its target's kind
    // Also when its own name says another kind; a file through a linked folder keeps its name.
    std::filesystem::create_symlink(real, dir.file("named.dylib"));
    EXPECT_EQ(typeOf(dir.file("named.dylib")), "public.jpeg");
    std::filesystem::create_directory_symlink(dir.path(), dir.file("again"));
    EXPECT_EQ(typeOf(dir.file("again/real.jpg")), "public.jpeg");
    std::filesystem::create_directories(dir.file("Real.bundle"));
    std::filesystem::create_symlink(dir.file("Real.bundle"), dir.file("shortcut"));
    EXPECT_EQ(typeOf(dir.file("shortcut")), "com.apple.bundle");
    // A NUL inside the text must not quietly name "real.jpg".
    EXPECT_EQ(typeOf(real + std::string("\0.txt", 5)), std::nullopt);
    EXPECT_EQ(typeOf(real + "/inside"), std::nullopt);
}

TEST(TypeIdentification, UnreadableFilesAndFoldersHaveNoType) {
    ScratchDir dir;
    ::chmod(dir.path().c_str(), 0755);
    const std::string locked = dir.write("locked.jpg", "x");
    const std::string open = dir.write("open.jpg", "x");
    ::chmod(locked.c_str(), 0);
    ::chmod(open.c_str(), 0644);
    std::filesystem::create_directories(dir.file("locked.bundle"));
    ::chmod(dir.file("locked.bundle").c_str(), 0);

    auto check = [&] {
        return !typeOf(locked) && !typeOf(dir.file("locked.bundle")) && typeOf(open) == "public.jpeg";
    };
    if (::geteuid() != 0) {
        EXPECT_TRUE(check());
        return;
    }
    // Root reads everything: look as an unprivileged user from a child process.
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(TypeIdentification, PipesAreNeverOpened) {
    ScratchDir dir;
    // Opening a FIFO with no writer would block for ever.
    ASSERT_EQ(::mkfifo(dir.file("trap.jpg").c_str(), 0600), 0);
    const auto type = typeOf(dir.file("trap.jpg"));
    ASSERT_TRUE(type);
    EXPECT_FALSE(conforms(*type, kUTTypeJPEG));
    EXPECT_FALSE(conforms(*type, "public.data"));
}

TEST(TypeConformance, EachAcceptedKindConformsToItsEntryAndAncestors) {
    EXPECT_TRUE(conforms("public.jpeg", kUTTypeJPEG));
    EXPECT_TRUE(conforms("public.jpeg", "public.image"));
    EXPECT_TRUE(conforms("public.jpeg", "public.data"));
    EXPECT_TRUE(conforms("public.jpeg", "public.item"));
    EXPECT_TRUE(conforms("public.jpeg-2000", kUTTypeJPEG2000));
    EXPECT_TRUE(conforms("public.tiff", kUTTypeTIFF));
    EXPECT_TRUE(conforms("com.apple.bundle", kUTTypeBundle));
    EXPECT_TRUE(conforms("com.apple.bundle", "com.apple.package"));
    EXPECT_TRUE(conforms("com.apple.bundle", "public.directory"));
    EXPECT_TRUE(conforms("com.apple.framework", kUTTypeBundle));
    EXPECT_TRUE(conforms("com.apple.mach-o-dylib", "com.apple.mach-o-dylib"));
    EXPECT_TRUE(conforms("com.apple.mach-o-dylib", "public.executable"));
    EXPECT_TRUE(conforms("com.apple.mach-o-dylib", "public.data"));
    EXPECT_TRUE(conforms("public.plain-text", "public.text"));
    EXPECT_TRUE(conforms("public.folder", "public.directory"));
}

TEST(TypeConformance, SiblingsAndChildrenDoNotConform) {
    EXPECT_FALSE(conforms("public.tiff", kUTTypeJPEG));
    EXPECT_FALSE(conforms("public.jpeg", kUTTypeJPEG2000));
    EXPECT_FALSE(conforms("public.image", kUTTypeJPEG));
    EXPECT_FALSE(conforms("public.folder", kUTTypeBundle));
    EXPECT_FALSE(conforms("public.folder", "com.apple.package"));
    EXPECT_FALSE(conforms("public.plain-text", "public.image"));
    EXPECT_FALSE(conforms("public.directory", "public.data"));
    EXPECT_FALSE(conforms("public.item", "public.data"));
    // An identifier the table does not know conforms to itself only.
    EXPECT_TRUE(conforms("dyn.unknown", "dyn.unknown"));
    EXPECT_FALSE(conforms("dyn.unknown", "public.item"));
    EXPECT_FALSE(conforms("", kUTTypeJPEG));
}
