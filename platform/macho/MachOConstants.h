// SPDX-License-Identifier: GPL-3.0-or-later
// Mach-O and universal ("fat") file constants under their customary names, as
// <mach-o/loader.h>, <mach-o/fat.h> and <mach/machine.h> spell them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vesk::platform::macho {

// Universal headers and their architecture tables are big-endian whatever the
// slices are.
inline constexpr std::uint32_t FAT_MAGIC = 0xcafebabe;
inline constexpr std::uint32_t FAT_CIGAM = 0xbebafeca;
inline constexpr std::uint32_t FAT_MAGIC_64 = 0xcafebabf;
inline constexpr std::uint32_t FAT_CIGAM_64 = 0xbfbafeca;

// Thin headers are in the byte order of their processor; CIGAM is the magic
// read in the other order.
inline constexpr std::uint32_t MH_MAGIC = 0xfeedface;
inline constexpr std::uint32_t MH_CIGAM = 0xcefaedfe;
inline constexpr std::uint32_t MH_MAGIC_64 = 0xfeedfacf;
inline constexpr std::uint32_t MH_CIGAM_64 = 0xcffaedfe;

// mach_header.filetype values.
inline constexpr std::uint32_t MH_EXECUTE = 0x2;
inline constexpr std::uint32_t MH_DYLIB = 0x6;
inline constexpr std::uint32_t MH_BUNDLE = 0x8;

// struct fat_header { magic, nfat_arch }
inline constexpr std::size_t kFatHeaderSize = 8;
// struct fat_arch { cputype, cpusubtype, offset, size, align } (all 32-bit)
inline constexpr std::size_t kFatArchSize = 20;
// struct fat_arch_64 { cputype, cpusubtype, offset64, size64, align, reserved }
inline constexpr std::size_t kFatArch64Size = 32;
// struct mach_header { magic, cputype, cpusubtype, filetype, ncmds, sizeofcmds, flags }
inline constexpr std::size_t kMachHeaderSize = 28;
// struct mach_header_64 adds a reserved word.
inline constexpr std::size_t kMachHeader64Size = 32;

// Alignment is stored as a power of two; the tools never go beyond 2^15.
inline constexpr std::uint32_t kMaxSectionAlign = 15;

// A Java class file starts with 0xcafebabe too, followed by its minor and major
// version where a universal file keeps its architecture count. Class-file major
// versions start at 45, so a count of 43 or more is a class file (or garbage).
inline constexpr std::uint32_t kMaxFatArchCount = 42;

inline constexpr std::int32_t CPU_ARCH_ABI64 = 0x01000000;
inline constexpr std::int32_t CPU_ARCH_ABI64_32 = 0x02000000;

inline constexpr std::int32_t CPU_TYPE_ANY = -1;
inline constexpr std::int32_t CPU_TYPE_VAX = 1;
inline constexpr std::int32_t CPU_TYPE_MC680x0 = 6;
inline constexpr std::int32_t CPU_TYPE_X86 = 7;
inline constexpr std::int32_t CPU_TYPE_I386 = CPU_TYPE_X86;
inline constexpr std::int32_t CPU_TYPE_X86_64 = CPU_TYPE_X86 | CPU_ARCH_ABI64;
inline constexpr std::int32_t CPU_TYPE_MC98000 = 10;
inline constexpr std::int32_t CPU_TYPE_HPPA = 11;
inline constexpr std::int32_t CPU_TYPE_ARM = 12;
inline constexpr std::int32_t CPU_TYPE_ARM64 = CPU_TYPE_ARM | CPU_ARCH_ABI64;
inline constexpr std::int32_t CPU_TYPE_ARM64_32 = CPU_TYPE_ARM | CPU_ARCH_ABI64_32;
inline constexpr std::int32_t CPU_TYPE_MC88000 = 13;
inline constexpr std::int32_t CPU_TYPE_SPARC = 14;
inline constexpr std::int32_t CPU_TYPE_I860 = 15;
inline constexpr std::int32_t CPU_TYPE_POWERPC = 18;
inline constexpr std::int32_t CPU_TYPE_POWERPC64 = CPU_TYPE_POWERPC | CPU_ARCH_ABI64;

// Load commands the code details read (<mach-o/loader.h>).
inline constexpr std::uint32_t LC_REQ_DYLD = 0x80000000;
inline constexpr std::uint32_t LC_LOAD_DYLIB = 0xc;
inline constexpr std::uint32_t LC_ID_DYLIB = 0xd;
inline constexpr std::uint32_t LC_UUID = 0x1b;
inline constexpr std::uint32_t LC_CODE_SIGNATURE = 0x1d;
inline constexpr std::uint32_t LC_LOAD_WEAK_DYLIB = 0x18 | LC_REQ_DYLD;
inline constexpr std::uint32_t LC_RPATH = 0x1c | LC_REQ_DYLD;
inline constexpr std::uint32_t LC_REEXPORT_DYLIB = 0x1f | LC_REQ_DYLD;
inline constexpr std::uint32_t LC_LAZY_LOAD_DYLIB = 0x20;
inline constexpr std::uint32_t LC_LOAD_UPWARD_DYLIB = 0x23 | LC_REQ_DYLD;
inline constexpr std::uint32_t LC_VERSION_MIN_MACOSX = 0x24;
inline constexpr std::uint32_t LC_VERSION_MIN_IPHONEOS = 0x25;
inline constexpr std::uint32_t LC_VERSION_MIN_TVOS = 0x2f;
inline constexpr std::uint32_t LC_VERSION_MIN_WATCHOS = 0x30;
inline constexpr std::uint32_t LC_BUILD_VERSION = 0x32;

inline constexpr std::uint32_t PLATFORM_MACOS = 1;
inline constexpr std::uint32_t PLATFORM_IOS = 2;
inline constexpr std::uint32_t PLATFORM_TVOS = 3;
inline constexpr std::uint32_t PLATFORM_WATCHOS = 4;
inline constexpr std::uint32_t PLATFORM_MACCATALYST = 6;

// Code signature blobs, all big-endian (<Kernel/kern/cs_blobs.h>).
inline constexpr std::uint32_t CSMAGIC_REQUIREMENTS = 0xfade0c01;
inline constexpr std::uint32_t CSMAGIC_CODEDIRECTORY = 0xfade0c02;
inline constexpr std::uint32_t CSMAGIC_EMBEDDED_SIGNATURE = 0xfade0cc0;
inline constexpr std::uint32_t CSMAGIC_EMBEDDED_ENTITLEMENTS = 0xfade7171;
inline constexpr std::uint32_t CSMAGIC_EMBEDDED_DER_ENTITLEMENTS = 0xfade7172;
inline constexpr std::uint32_t CSMAGIC_BLOBWRAPPER = 0xfade0b01;

inline constexpr std::uint32_t CSSLOT_CODEDIRECTORY = 0;
inline constexpr std::uint32_t CSSLOT_REQUIREMENTS = 2;
inline constexpr std::uint32_t CSSLOT_ENTITLEMENTS = 5;
inline constexpr std::uint32_t CSSLOT_DER_ENTITLEMENTS = 7;
inline constexpr std::uint32_t CSSLOT_ALTERNATE_CODEDIRECTORIES = 0x1000;
inline constexpr std::uint32_t CSSLOT_SIGNATURESLOT = 0x10000;

inline constexpr std::uint32_t CS_ADHOC = 0x2;
inline constexpr std::uint32_t CS_HARD = 0x100;
inline constexpr std::uint32_t CS_KILL = 0x200;
inline constexpr std::uint32_t CS_RESTRICT = 0x800;
inline constexpr std::uint32_t CS_ENFORCEMENT = 0x1000;
inline constexpr std::uint32_t CS_REQUIRE_LV = 0x2000;
inline constexpr std::uint32_t CS_RUNTIME = 0x10000;
inline constexpr std::uint32_t CS_LINKER_SIGNED = 0x20000;

}  // namespace vesk::platform::macho
