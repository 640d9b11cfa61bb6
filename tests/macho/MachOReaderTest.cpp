// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <vector>

#include "../TestSupport.h"
#include "platform/macho/MachOConstants.h"
#include "platform/macho/MachOReader.h"

using namespace vesk::platform::macho;
using vesk::test::ScratchDir;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A thin 64-bit little-endian x86_64 bundle header (mach_header_64).
const Bytes kThin64 = {
    0xcf, 0xfa, 0xed, 0xfe,  // magic MH_MAGIC_64 in little-endian order
    0x07, 0x00, 0x00, 0x01,  // cputype CPU_TYPE_X86_64
    0x03, 0x00, 0x00, 0x00,  // cpusubtype ALL
    0x08, 0x00, 0x00, 0x00,  // filetype MH_BUNDLE
    0x00, 0x00, 0x00, 0x00,  // ncmds
    0x00, 0x00, 0x00, 0x00,  // sizeofcmds
    0x00, 0x00, 0x00, 0x00,  // flags
    0x00, 0x00, 0x00, 0x00,  // reserved
};

// A universal file: x86_64 at 0x40, i386 at 0x60, 0x7c bytes in all.
const Bytes kFat = {
    0xca, 0xfe, 0xba, 0xbe,  // 0x00 magic FAT_MAGIC (big-endian, always)
    0x00, 0x00, 0x00, 0x02,  // 0x04 nfat_arch
    0x01, 0x00, 0x00, 0x07,  // 0x08 fat_arch[0].cputype CPU_TYPE_X86_64
    0x00, 0x00, 0x00, 0x03,  // 0x0c fat_arch[0].cpusubtype
    0x00, 0x00, 0x00, 0x40,  // 0x10 fat_arch[0].offset
    0x00, 0x00, 0x00, 0x20,  // 0x14 fat_arch[0].size
    0x00, 0x00, 0x00, 0x03,  // 0x18 fat_arch[0].align 2^3
    0x00, 0x00, 0x00, 0x07,  // 0x1c fat_arch[1].cputype CPU_TYPE_I386
    0x00, 0x00, 0x00, 0x03,  // 0x20 fat_arch[1].cpusubtype
    0x00, 0x00, 0x00, 0x60,  // 0x24 fat_arch[1].offset
    0x00, 0x00, 0x00, 0x1c,  // 0x28 fat_arch[1].size
    0x00, 0x00, 0x00, 0x02,  // 0x2c fat_arch[1].align 2^2
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x30 padding
    // 0x40 slice 0: mach_header_64, little-endian x86_64
    0xcf, 0xfa, 0xed, 0xfe, 0x07, 0x00, 0x00, 0x01, 0x03, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // 0x60 slice 1: mach_header, little-endian i386
    0xce, 0xfa, 0xed, 0xfe, 0x07, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

// The same two slices under a 64-bit fat header: PPC64 at 0x60, PPC at 0x80.
const Bytes kFat64 = {
    0xca, 0xfe, 0xba, 0xbf,                          // 0x00 magic FAT_MAGIC_64
    0x00, 0x00, 0x00, 0x02,                          // 0x04 nfat_arch
    0x01, 0x00, 0x00, 0x12,                          // 0x08 fat_arch_64[0].cputype CPU_TYPE_POWERPC64
    0x00, 0x00, 0x00, 0x00,                          // 0x0c fat_arch_64[0].cpusubtype
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x60,  // 0x10 fat_arch_64[0].offset
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20,  // 0x18 fat_arch_64[0].size
    0x00, 0x00, 0x00, 0x05,                          // 0x20 fat_arch_64[0].align 2^5
    0x00, 0x00, 0x00, 0x00,                          // 0x24 fat_arch_64[0].reserved
    0x00, 0x00, 0x00, 0x12,                          // 0x28 fat_arch_64[1].cputype CPU_TYPE_POWERPC
    0x00, 0x00, 0x00, 0x00,                          // 0x2c fat_arch_64[1].cpusubtype
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80,  // 0x30 fat_arch_64[1].offset
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1c,  // 0x38 fat_arch_64[1].size
    0x00, 0x00, 0x00, 0x02,                          // 0x40 fat_arch_64[1].align 2^2
    0x00, 0x00, 0x00, 0x00,                          // 0x44 fat_arch_64[1].reserved
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x48 padding
    // 0x60 slice 0: mach_header_64, big-endian PPC64
    0xfe, 0xed, 0xfa, 0xcf, 0x01, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // 0x80 slice 1: mach_header, big-endian PPC
    0xfe, 0xed, 0xfa, 0xce, 0x00, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

void putBE32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
void putBE64(Bytes& b, std::size_t at, std::uint64_t v) {
    putBE32(b, at, static_cast<std::uint32_t>(v >> 32));
    putBE32(b, at + 4, static_cast<std::uint32_t>(v));
}

std::vector<std::int32_t> typesOf(const Bytes& bytes) {
    const auto result = parse(bytes);
    EXPECT_TRUE(result.ok()) << result.error();
    return result ? cpuTypes(result.value()) : std::vector<std::int32_t>{};
}

}  // namespace

TEST(MachOReaderBaselines, ThinAndUniversalHeadersYieldTheirCpuTypesInFileOrder) {
    EXPECT_EQ(typesOf(kThin64), std::vector<std::int32_t>{CPU_TYPE_X86_64});
    EXPECT_EQ(typesOf(kFat), (std::vector<std::int32_t>{CPU_TYPE_X86_64, CPU_TYPE_I386}));
    EXPECT_EQ(typesOf(kFat64), (std::vector<std::int32_t>{CPU_TYPE_POWERPC64, CPU_TYPE_POWERPC}));

    const auto fat = parse(kFat).value();
    EXPECT_EQ(fat.kind, FileKind::Universal);
    EXPECT_EQ(fat.slices[1].offset, 0x60u);
    EXPECT_EQ(fat.slices[1].size, 0x1cu);
    EXPECT_FALSE(fat.slices[1].is64Bit);
    const auto fat64 = parse(kFat64).value();
    EXPECT_EQ(fat64.kind, FileKind::Universal64);
    EXPECT_TRUE(fat64.slices[0].bigEndian);
    EXPECT_TRUE(fat64.slices[0].is64Bit);
}

TEST(MachOReaderBaselines, ThinHeadersAreReadInTheirOwnByteOrder) {
    // The fat baselines hold one thin header of each width and order.
    const Bytes i386Le(kFat.begin() + 0x60, kFat.end());
    const Bytes ppc64Be(kFat64.begin() + 0x60, kFat64.begin() + 0x80);
    const Bytes ppcBe(kFat64.begin() + 0x80, kFat64.end());
    EXPECT_EQ(typesOf(i386Le), std::vector<std::int32_t>{CPU_TYPE_I386});
    EXPECT_EQ(typesOf(ppc64Be), std::vector<std::int32_t>{CPU_TYPE_POWERPC64});
    EXPECT_EQ(typesOf(ppcBe), std::vector<std::int32_t>{CPU_TYPE_POWERPC});
    // A code the tools do not know still comes back exactly, sign included.
    Bytes odd = kThin64;
    odd[4] = 0xfe, odd[5] = 0xff, odd[6] = 0xff, odd[7] = 0xff;
    EXPECT_EQ(typesOf(odd), std::vector<std::int32_t>{-2});
}

TEST(MachOReaderMalformed, EachCorruptedFieldIsRefusedWithItsName) {
    struct Case {
        const char* name;
        const Bytes* baseline;
        std::function<void(Bytes&)> corrupt;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"empty file", &kThin64, [](Bytes& b) { b.clear(); }, "file size 0x0: too small to hold a magic"},
        {"unknown magic", &kThin64, [](Bytes& b) { putBE32(b, 0, 0x7f454c46); },
         "not a Mach-O or universal file (magic 0x7f454c46)"},
        {"truncated mach_header_64", &kThin64, [](Bytes& b) { b.resize(20); },
         "truncated or malformed object (file size 0x14: shorter than a mach_header_64)"},
        {"truncated fat header", &kFat, [](Bytes& b) { b.resize(6); },
         "truncated or malformed fat file (file size 0x6: shorter than a fat_header)"},
        {"no architectures", &kFat, [](Bytes& b) { putBE32(b, 4, 0); }, "(nfat_arch 0x0: no architectures)"},
        {"count 0xFFFFFFFF", &kFat, [](Bytes& b) { putBE32(b, 4, 0xffffffff); },
         "(nfat_arch 0xffffffff: more architectures than a universal file holds"},
        {"table past the end", &kFat, [](Bytes& b) { putBE32(b, 4, 6); },
         "(nfat_arch 0x6: the fat_arch table runs past the end of the file of 0x7c bytes)"},
        {"Java class file", &kFat,
         [](Bytes& b) {
             putBE32(b, 4, 0x00000034);  // minor 0, major 52: Java 8
         },
         "(nfat_arch 0x34: more architectures than a universal file holds; a Java class file shares its magic)"},
        {"offset inside the table", &kFat, [](Bytes& b) { putBE32(b, 0x10, 0x10); },
         "(fat_arch[0].offset 0x10: inside the fat header or its table)"},
        {"offset past the end", &kFat, [](Bytes& b) { putBE32(b, 0x24, 0x1000); },
         "(fat_arch[1].offset 0x1000: past the end of the file of 0x7c bytes)"},
        {"size past the end", &kFat, [](Bytes& b) { putBE32(b, 0x28, 0x1d); },
         "(fat_arch[1].size 0x1d: the slice at 0x60 runs past the end of the file of 0x7c bytes)"},
        {"offset plus size beyond 32 bits", &kFat, [](Bytes& b) { putBE32(b, 0x14, 0xffffffff); },
         "(fat_arch[0].size 0xffffffff: the slice at 0x40 runs past"},
        {"alignment too large", &kFat, [](Bytes& b) { putBE32(b, 0x18, 16); }, "(fat_arch[0].align 0x10: more than 2^15)"},
        {"misaligned offset", &kFat, [](Bytes& b) { putBE32(b, 0x10, 0x44); },
         "(fat_arch[0].offset 0x44: not aligned to 2^3)"},
        {"overlapping slices", &kFat, [](Bytes& b) { putBE32(b, 0x24, 0x50); },
         "(fat_arch[1].offset 0x50: overlaps fat_arch[0])"},
        {"slice without a Mach-O magic", &kFat, [](Bytes& b) { b[0x60] = 0; },
         "(fat_arch[1] slice magic 0xfaedfe: not a Mach-O magic)"},
        {"universal file as a slice", &kFat, [](Bytes& b) { putBE32(b, 0x60, FAT_MAGIC); },
         "(fat_arch[1] slice magic 0xcafebabe: a universal file inside a universal file)"},
        {"slice shorter than its header", &kFat, [](Bytes& b) { putBE32(b, 0x28, 0x10); },
         "(fat_arch[1] slice size 0x10: shorter than a mach_header)"},
        {"64-bit slice shorter than its header", &kFat, [](Bytes& b) { putBE32(b, 0x14, 0x1c); },
         "(fat_arch[0] slice size 0x1c: shorter than a mach_header_64)"},
        {"slice too small for a magic", &kFat, [](Bytes& b) { putBE32(b, 0x28, 2); },
         "(fat_arch[1] slice size 0x2: too small to hold a Mach-O magic)"},
        {"fat64 offset beyond 4 GiB", &kFat64, [](Bytes& b) { putBE64(b, 0x30, 0x100000080ull); },
         "(fat_arch[1].offset 0x100000080: past the end of the file of 0x9c bytes)"},
        {"fat64 size wrapping 64 bits", &kFat64, [](Bytes& b) { putBE64(b, 0x38, 0xffffffffffffffc0ull); },
         "(fat_arch[1].size 0xffffffffffffffc0: the slice at 0x80 runs past"},
        {"fat64 table past the end", &kFat64, [](Bytes& b) { putBE32(b, 4, 5); },
         "(nfat_arch 0x5: the fat_arch table runs past the end of the file of 0x9c bytes)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = *c.baseline;
        ASSERT_TRUE(parse(bytes).ok()) << "baseline must parse";
        c.corrupt(bytes);
        const auto result = parse(bytes);
        ASSERT_FALSE(result.ok());
        EXPECT_NE(result.error().find(c.message), std::string::npos) << result.error();
    }
}

TEST(MachOReaderMalformed, EveryTruncationOfTheBaselinesIsRefused) {
    for (const Bytes* baseline : {&kThin64, &kFat, &kFat64}) {
        for (std::size_t n = 0; n < baseline->size(); ++n) {
            const Bytes cut(baseline->begin(), baseline->begin() + static_cast<std::ptrdiff_t>(n));
            EXPECT_FALSE(parse(cut).ok()) << "cut at " << n;
        }
    }
}

TEST(MachOReaderFiles, RealSlicesFromTheLinkerAndLipoAreRead) {
    const std::string dir = VESK_MACHO_FIXTURES "/slices/";
    EXPECT_EQ(cpuTypes(parseFile(dir + "x86_64.bundle").value()), std::vector<std::int32_t>{CPU_TYPE_X86_64});
    EXPECT_EQ(cpuTypes(parseFile(dir + "arm64.bundle").value()), std::vector<std::int32_t>{CPU_TYPE_ARM64});
    EXPECT_EQ(cpuTypes(parseFile(dir + "i386.bundle").value()), std::vector<std::int32_t>{CPU_TYPE_I386});
    const auto universal = parseFile(dir + "universal");
    ASSERT_TRUE(universal.ok()) << universal.error();
    EXPECT_EQ(cpuTypes(universal.value()), (std::vector<std::int32_t>{CPU_TYPE_X86_64, CPU_TYPE_I386}));
}

TEST(MachOReaderFiles, FoldersAndFifosAreRefusedWithoutBlocking) {
    ScratchDir dir;
    EXPECT_NE(parseFile(dir.path().string()).error().find("not a regular file"), std::string::npos);
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_NE(parseFile(fifo).error().find("not a regular file"), std::string::npos);
    EXPECT_FALSE(parseFile(dir.file("missing")).ok());
}

TEST(MachOReaderFiles, AFourGigabyteUniversalFileCostsOnlyItsHeaders) {
    ScratchDir dir;
    const std::string path = dir.file("huge");
    // Slice 0 spans almost 4 GiB; slice 1 sits above 4 GiB, which needs the 64-bit header.
    constexpr std::uint64_t kSlice1 = 0x100000000ull;
    Bytes header(0x48, 0);
    putBE32(header, 0x00, FAT_MAGIC_64);
    putBE32(header, 0x04, 2);
    putBE32(header, 0x08, static_cast<std::uint32_t>(CPU_TYPE_X86_64));
    putBE64(header, 0x10, 0x1000);
    putBE64(header, 0x18, kSlice1 - 0x1000);
    putBE32(header, 0x20, 12);
    putBE32(header, 0x28, static_cast<std::uint32_t>(CPU_TYPE_ARM64));
    putBE64(header, 0x30, kSlice1);
    putBE64(header, 0x38, 0x1000);
    putBE32(header, 0x40, 12);
    Bytes arm64 = kThin64;
    arm64[4] = 0x0c;
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, header.data(), header.size(), 0), static_cast<ssize_t>(header.size()));
        ASSERT_EQ(::pwrite(fd, kThin64.data(), kThin64.size(), 0x1000), static_cast<ssize_t>(kThin64.size()));
        ASSERT_EQ(::pwrite(fd, arm64.data(), arm64.size(), static_cast<off_t>(kSlice1)),
                  static_cast<ssize_t>(arm64.size()));
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kSlice1 + 0x1000)), 0);
        ::close(fd);
    }

    const auto start = std::chrono::steady_clock::now();
    auto source = FileSource::open(path);
    ASSERT_TRUE(source);
    const auto result = parse(*source);
    const auto elapsed = std::chrono::steady_clock::now() - start;

    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(cpuTypes(result.value()), (std::vector<std::int32_t>{CPU_TYPE_X86_64, CPU_TYPE_ARM64}));
    EXPECT_EQ(result.value().slices[1].offset, kSlice1);
    // The fat header, its table and two mach_header_64s, nothing more.
    EXPECT_EQ(source->bytesRead(), 4u + 8u + 2u * 32u + 2u * (4u + 32u));
    EXPECT_LT(elapsed, std::chrono::milliseconds(500));
}
