// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "../TestSupport.h"
#include "inspector/CodeSummary.h"
#include "platform/Process.h"
#include "platform/macho/BundleDetails.h"
#include "platform/macho/CodeDetails.h"
#include "platform/macho/MachOConstants.h"
#include "platform/macho/Sha256.h"

using namespace vesk::platform::macho;
using vesk::test::ScratchDir;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string code(const std::string& name) { return std::string(VESK_CODE_FIXTURES "/") + name; }

std::string v3(std::uint32_t v) {
    return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xff) + "." + std::to_string(v & 0xff);
}

// One line per slice, from llvm-objdump's own words.
std::vector<std::string> objdumpSlices(const std::string& path) {
    const auto text = vesk::platform::runCommand({VESK_LLVM_OBJDUMP, "--macho", "--private-headers", "--arch=all", path});
    std::vector<std::string> slices;
    if (!text) return slices;
    const std::map<std::string, int> platforms = {{"macos", 1}, {"ios", 2}, {"macCatalyst", 6}};
    std::istringstream in(*text);
    std::string line, cmd, platform, sdk, minimum;
    bool header = false;
    // A platform's lines come in either order; written once its command ends.
    const auto flush = [&] {
        if (!minimum.empty()) slices.back() += " target=" + platform + " sdk=" + sdk + " min=" + minimum;
        minimum.clear();
    };
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key, value;
        words >> key >> value;
        if (line.find("(architecture ") != std::string::npos) {
            slices.push_back("arch=" + line.substr(line.rfind(' ') + 1, line.size() - line.rfind(' ') - 3));
        } else if (key == "magic") {
            header = true;
        } else if (header) {
            header = false;
            if (slices.empty()) {
                for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                slices.push_back("arch=" + value);
            }
        } else if (key == "cmd" || key == "Load") {
            flush();
            if (key == "cmd") cmd = value;
            if (cmd == "LC_VERSION_MIN_MACOSX") platform = "1";
        } else if (key == "uuid") {
            slices.back() += " uuid=" + value;
        } else if (key == "platform") {
            platform = std::to_string(platforms.count(value) ? platforms.at(value) : -1);
        } else if (key == "sdk") {
            sdk = value;
        } else if (key == "minos" || (key == "version" && cmd.starts_with("LC_VERSION_MIN"))) {
            minimum = value;
        } else if (key == "name" && cmd != "LC_LOAD_DYLINKER") {
            slices.back() += " " + cmd + "=" + value;
        } else if (key == "current" || key == "compatibility") {
            words >> value;
            slices.back() += "," + value;
        } else if (key == "path") {
            slices.back() += " rpath=" + value;
        }
    }
    flush();
    return slices;
}

const char* commandName(const std::string& kind) {
    static const std::map<std::string, const char*> names = {
        {"id", "LC_ID_DYLIB"}, {"load", "LC_LOAD_DYLIB"}, {"weak", "LC_LOAD_WEAK_DYLIB"}, {"reexport", "LC_REEXPORT_DYLIB"},
        {"upward", "LC_LOAD_UPWARD_DYLIB"}, {"lazy", "LC_LAZY_LOAD_DYLIB"}};
    return names.at(kind);
}

// The same line from the reader; commands in objdump's order, the one the
// reader keeps them in apart from the install name, which objdump shows where
// it lies.
std::string sliceLine(const SliceDetails& s, const std::string& objdumpLine) {
    std::string line = "arch=" + vesk::sliceArchitectureName(s.cputype, s.cpusubtype);
    std::vector<std::pair<std::size_t, std::string>> parts;
    const auto at = [&](const std::string& part) {
        const auto where = objdumpLine.find(part);
        parts.emplace_back(where == std::string::npos ? std::string::npos : where, part);
    };
    if (s.uuid) at(" uuid=" + uuidText(*s.uuid));
    for (const auto& t : s.targets)
        at(" target=" + std::to_string(t.platform) + " sdk=" + versionText(t.sdk) + " min=" + versionText(t.minimum));
    auto libraries = s.libraries;
    if (s.installName) libraries.push_back(*s.installName);
    for (const auto& l : libraries)
        at(" " + std::string(commandName(l.kind)) + "=" + l.name + "," + v3(l.currentVersion) + "," +
           v3(l.compatibilityVersion));
    for (const auto& r : s.rpaths) at(" rpath=" + r);
    std::stable_sort(parts.begin(), parts.end());
    for (const auto& [where, part] : parts) line += part;
    return line;
}

// Commands the reader counts and objdump sorts its own way are compared as a
// sequence of parts, so a part found by neither shows up as a difference.
TEST(CodeDetails, EverySliceAgreesWithObjdump) {
    for (const char* name : {"libbase.dylib", "libweak.dylib", "libreexport.dylib", "libios.dylib", "libcatalyst.dylib",
                             "libold.dylib", "libupward.dylib", "liblazy.dylib", "signed.dylib", "adhoc.dylib", "unsigned.dylib",
                             "Studio.app/Contents/MacOS/Studio", "Studio.app/Contents/Frameworks/Kit.framework/Kit"}) {
        SCOPED_TRACE(name);
        const auto expected = objdumpSlices(code(name));
        const auto slices = readCodeDetailsOfFile(code(name));
        ASSERT_TRUE(slices) << slices.error();
        ASSERT_EQ(slices->size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(sliceLine((*slices)[i], expected[i]), expected[i]);
    }
}

TEST(CodeDetails, SignaturesReadBackAsWritten) {
    const struct {
        const char* file;
        SignatureKind kind;
        const char* identifier;
        const char* team;
        std::uint32_t flags;
        bool entitlements;
        std::uint32_t der;
    } cases[] = {
        {"unsigned.dylib", SignatureKind::None, "", "", 0, false, 0},
        {"adhoc.dylib", SignatureKind::AdHoc, "arm64-libbase.dylib", "", CS_ADHOC | CS_LINKER_SIGNED, false, 0},
        {"adhoc-entitled.dylib", SignatureKind::AdHoc, "org.vesk.base", "", CS_ADHOC, true, 0},
        {"signed.dylib", SignatureKind::Signed, "org.vesk.base", "ABCDE12345", CS_RUNTIME, true, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const auto slices = readCodeDetailsOfFile(code(c.file));
        ASSERT_TRUE(slices) << slices.error();
        const CodeSignature& s = slices->front().signature;
        EXPECT_EQ(s.kind, c.kind);
        if (c.kind == SignatureKind::None) continue;
        EXPECT_EQ(s.identifier, c.identifier);
        EXPECT_EQ(s.teamId, c.team);
        EXPECT_EQ(s.flags, c.flags);
        EXPECT_EQ(s.entitlements.find("com.apple.security.app-sandbox") != std::string::npos, c.entitlements);
        EXPECT_EQ(s.derEntitlementBytes, c.der);
        EXPECT_EQ(s.cdHash.size(), 40u);
    }
}

TEST(CodeDetails, Sha256KnownAnswers) {
    const std::string abc = "abc";
    const auto digest = sha256({reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size()});
    EXPECT_EQ(uuidText(*reinterpret_cast<const std::array<std::uint8_t, 16>*>(digest.data())),
              "BA7816BF-8F01-CFEA-4141-40DE5DAE2223");
}

// A thin little-endian arm64 dylib header and the commands given.
Bytes machO(std::uint32_t ncmds, const Bytes& commands) {
    Bytes b;
    const auto put = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    for (std::uint32_t v : {0xfeedfacfu, 0x0100000cu, 0u, 6u, ncmds, static_cast<std::uint32_t>(commands.size()), 0u, 0u})
        put(v);
    b.insert(b.end(), commands.begin(), commands.end());
    return b;
}

Bytes words(std::initializer_list<std::uint32_t> values, bool bigEndian = false) {
    Bytes b;
    for (std::uint32_t v : values)
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (bigEndian ? 24 - 8 * i : 8 * i)));
    return b;
}

Bytes joined(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(CodeDetails, HostileSlicesAreRefusedQuicklyWithTheFieldNamed) {
    Bytes many;
    for (int i = 0; i < 10000; ++i) joined(many, words({LC_UUID, 24, 0, 0, 0, 0})).swap(many);
    const auto signedWith = [&](const Bytes& blob) {
        Bytes command = words({LC_CODE_SIGNATURE, 16, 48, static_cast<std::uint32_t>(blob.size())});
        return joined(machO(1, command), blob);
    };
    const struct {
        const char* name;
        Bytes file;
        const char* field;
    } cases[] = {
        {"10,000 load commands", machO(10000, many), "ncmds 0x2710"},
        {"a command of no size", machO(1, words({LC_UUID, 0})), "load command 0 cmdsize 0x0"},
        {"a command past the rest", machO(2, words({LC_UUID, 24, 0, 0, 0, 0})), "load command 1 offset 0x38"},
        {"a name outside its command", machO(1, words({LC_LOAD_DYLIB, 24, 200, 0, 0, 0})), "load command 0 dylib.name 0xc8"},
        {"a signature past the file", machO(1, words({LC_CODE_SIGNATURE, 16, 48, 0x7fffffff})), "dataoff 0x30"},
        {"too many blobs", signedWith(words({CSMAGIC_EMBEDDED_SIGNATURE, 12, 0x10000}, true)), "count 0x10000"},
        {"a blob outside", signedWith(words({CSMAGIC_EMBEDDED_SIGNATURE, 28, 1, 0, 0xffff, 0, 0}, true)),
         "blob[0].offset 0xffff"},
        {"a blob that runs over", signedWith(words({CSMAGIC_EMBEDDED_SIGNATURE, 28, 1, 0, 20, CSMAGIC_CODEDIRECTORY, 0x1000}, true)),
         "blob[0].length 0x1000"},
        {"no code directory", signedWith(words({CSMAGIC_EMBEDDED_SIGNATURE, 12, 0}, true)), "no CodeDirectory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = std::chrono::steady_clock::now();
        const auto result = readCodeDetails(vesk::platform::SpanSource(c.file));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        ASSERT_FALSE(result);
        EXPECT_NE(result.error().find(c.field), std::string::npos) << result.error();
    }
}

TEST(CodeDetails, ABundleSaysWhoItIsWhatItAsksForAndWhatItHolds) {
    const auto reading = vesk::readCode(code("Studio.app"), vesk::ReportKind::Bundle);
    const auto& d = reading.details;
    EXPECT_EQ(d.identity.front(), (std::pair<std::string, std::string>{"CFBundleIdentifier", "org.vesk.Studio"}));
    EXPECT_EQ(d.executableName, "Studio");
    ASSERT_EQ(d.nested.size(), 2u);
    EXPECT_EQ(d.nested[0].relativePath, "Contents/Frameworks/Kit.framework");
    EXPECT_EQ(vesk::codeLine(d.nested[1].slices).substr(0, 6), "x86_64");
}

// Towers and loops cost nothing: only one level of the code folders is read
// and links are not followed.
TEST(CodeDetails, AHostileBundleIsAnsweredQuickly) {
    ScratchDir dir;
    std::string deep = dir.file("Deep.app/Contents/PlugIns");
    for (int i = 0; i < 100; ++i) deep += "/P" + std::to_string(i) + ".plugin/Contents/PlugIns";
    std::filesystem::create_directories(deep);
    std::filesystem::create_directory_symlink("..", dir.file("Deep.app/Contents/PlugIns/Loop.framework"));
    for (int i = 0; i < 100; ++i)
        std::filesystem::create_directories(dir.file("Deep.app/Contents/Frameworks/F" + std::to_string(i) + ".framework"));
    const auto start = std::chrono::steady_clock::now();
    const auto d = readBundleDetails(dir.file("Deep.app"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(d.nested.size(), kMaxNestedCode);
    EXPECT_TRUE(d.nestedCut);
    EXPECT_FALSE(d.executable);
}

}  // namespace
