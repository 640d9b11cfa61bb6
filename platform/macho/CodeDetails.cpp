// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/macho/CodeDetails.h"

#include <cstdio>

#include "platform/macho/MachOConstants.h"
#include "platform/macho/Sha256.h"

namespace vesk::platform::macho {
namespace {

constexpr std::string_view kObject = "object";
constexpr std::string_view kSignature = "code signature";

std::string at(std::uint64_t offset) { return " (at " + hexText(offset) + ")"; }

template <typename T>
Result<T> fail(std::string_view what, const std::string& field, std::uint64_t value, const std::string& problem) {
    return Result<T>::failure(malformedMessage(what, field, value, problem));
}

std::uint32_t be32(ByteSpan bytes, std::uint64_t offset) { return readU32(bytes, offset, true).value_or(0); }

// A NUL-terminated string inside `bytes`; all of the rest when there is no NUL.
std::string cString(ByteSpan bytes, std::uint64_t offset) {
    std::string out;
    for (std::uint64_t i = offset; i < bytes.size() && bytes[i] != 0; ++i) out += static_cast<char>(bytes[i]);
    return out;
}

std::string hexBytes(ByteSpan bytes) {
    std::string out;
    char two[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

struct CodeDirectory {
    std::uint32_t version = 0, flags = 0;
    std::uint8_t hashType = 0;
    std::string identifier, teamId, cdHash;
};

Result<CodeDirectory> readCodeDirectory(ByteSpan cd, const std::string& where) {
    // magic, length, version, flags, hashOffset, identOffset, nSpecialSlots,
    // nCodeSlots, codeLimit, hashSize, hashType, platform, pageSize, spare2
    constexpr std::uint64_t kFixed = 44;
    if (cd.size() < kFixed) return fail<CodeDirectory>(kSignature, where + ".length", cd.size(), "shorter than a CodeDirectory");
    CodeDirectory dir;
    dir.version = be32(cd, 8);
    dir.flags = be32(cd, 12);
    dir.hashType = cd[37];
    const std::uint32_t identOffset = be32(cd, 20);
    if (identOffset < kFixed || identOffset >= cd.size())
        return fail<CodeDirectory>(kSignature, where + ".identOffset", identOffset, "outside the CodeDirectory");
    dir.identifier = cString(cd, identOffset);
    // The Team ID came with version 0x20200, after the scatter offset.
    if (dir.version >= 0x20200 && cd.size() >= 52) {
        if (const std::uint32_t teamOffset = be32(cd, 48); teamOffset != 0) {
            if (teamOffset < 52 || teamOffset >= cd.size())
                return fail<CodeDirectory>(kSignature, where + ".teamOffset", teamOffset, "outside the CodeDirectory");
            dir.teamId = cString(cd, teamOffset);
        }
    }
    // The system names code by the first 20 bytes of the directory's SHA-256.
    if (dir.hashType == 2) dir.cdHash = hexBytes(ByteSpan(sha256(cd)).first(20));
    return Result<CodeDirectory>::success(std::move(dir));
}

struct Command {
    std::uint32_t index = 0, cmd = 0;
    std::uint64_t offset = 0;  // in the slice
    ByteSpan bytes;            // the whole command
    bool bigEndian = false;
    std::uint32_t u32(std::uint64_t at) const { return readU32(bytes, at, bigEndian).value_or(0); }
    std::string field(const char* name) const { return "load command " + std::to_string(index) + " " + name; }
};

// An lc_str: its offset must point inside the command past its fixed part.
Result<std::string> commandString(const Command& c, std::uint64_t fixed, std::uint64_t offsetAt, const char* name) {
    const std::uint32_t offset = c.u32(offsetAt);
    if (offset < fixed || offset >= c.bytes.size())
        return fail<std::string>(kObject, c.field(name), offset, "outside the command" + at(c.offset));
    return Result<std::string>::success(cString(c.bytes, offset));
}

const char* libraryKind(std::uint32_t cmd) {
    switch (cmd) {
    case LC_LOAD_DYLIB: return "load";
    case LC_LOAD_WEAK_DYLIB: return "weak";
    case LC_REEXPORT_DYLIB: return "reexport";
    case LC_LAZY_LOAD_DYLIB: return "lazy";
    case LC_LOAD_UPWARD_DYLIB: return "upward";
    default: return nullptr;
    }
}

std::uint32_t versionMinPlatform(std::uint32_t cmd) {
    switch (cmd) {
    case LC_VERSION_MIN_MACOSX: return PLATFORM_MACOS;
    case LC_VERSION_MIN_IPHONEOS: return PLATFORM_IOS;
    case LC_VERSION_MIN_TVOS: return PLATFORM_TVOS;
    case LC_VERSION_MIN_WATCHOS: return PLATFORM_WATCHOS;
    default: return 0;
    }
}

using SliceResult = Result<SliceDetails>;

// One command into `out`; a command the reader does not know is passed over.
Result<bool> readCommand(const Command& c, const ByteSource& source, const Slice& slice, const CodeBudget& budget,
                         SliceDetails& out) {
    const auto need = [&](std::uint64_t size) -> std::optional<Result<bool>> {
        if (c.bytes.size() >= size) return std::nullopt;
        return fail<bool>(kObject, c.field("cmdsize"), c.bytes.size(),
                          "shorter than its command's " + std::to_string(size) + " bytes" + at(c.offset));
    };
    if (const char* kind = libraryKind(c.cmd); kind || c.cmd == LC_ID_DYLIB) {
        // dylib_command: cmd, cmdsize, name, timestamp, current_version, compatibility_version
        if (auto short_ = need(24)) return *short_;
        auto name = commandString(c, 24, 8, "dylib.name");
        if (!name) return Result<bool>::failure(name.error());
        LinkedLibrary library{*name, kind ? kind : "id", c.u32(16), c.u32(20)};
        if (!kind) {
            out.installName = std::move(library);
        } else {
            if (out.libraries.size() >= budget.libraries)
                return fail<bool>(kObject, c.field("cmd"), c.cmd,
                                  "more than " + std::to_string(budget.libraries) + " linked libraries" + at(c.offset));
            out.libraries.push_back(std::move(library));
        }
    } else if (c.cmd == LC_RPATH) {
        if (auto short_ = need(12)) return *short_;
        auto path = commandString(c, 12, 8, "path");
        if (!path) return Result<bool>::failure(path.error());
        out.rpaths.push_back(*path);
    } else if (c.cmd == LC_UUID) {
        if (auto short_ = need(24)) return *short_;
        std::array<std::uint8_t, 16> uuid{};
        for (std::size_t i = 0; i < uuid.size(); ++i) uuid[i] = c.bytes[8 + i];
        out.uuid = uuid;
    } else if (c.cmd == LC_BUILD_VERSION) {
        // build_version_command: cmd, cmdsize, platform, minos, sdk, ntools
        if (auto short_ = need(24)) return *short_;
        out.targets.push_back({c.u32(8), c.u32(12), c.u32(16), true});
    } else if (const std::uint32_t platform = versionMinPlatform(c.cmd)) {
        if (auto short_ = need(16)) return *short_;
        out.targets.push_back({platform, c.u32(8), c.u32(12), false});
    } else if (c.cmd == LC_CODE_SIGNATURE) {
        // linkedit_data_command: cmd, cmdsize, dataoff, datasize; the offset is the slice's
        if (auto short_ = need(16)) return *short_;
        const std::uint64_t dataoff = c.u32(8), datasize = c.u32(12);
        if (dataoff > slice.size || datasize > slice.size - dataoff)
            return fail<bool>(kObject, c.field("dataoff"), dataoff,
                              "the signature of " + hexText(datasize) + " bytes runs past the slice of " +
                                  hexText(slice.size) + " bytes" + at(c.offset));
        // Read whole once its size is known to be sane: the blobs point anywhere inside it.
        if (datasize > budget.signatureBytes)
            return fail<bool>(kObject, c.field("datasize"), datasize, "a signature beyond the reader's budget" + at(c.offset));
        std::vector<std::uint8_t> blob(static_cast<std::size_t>(datasize));
        if (!source.read(slice.offset + dataoff, blob))
            return fail<bool>(kObject, c.field("dataoff"), dataoff, "the signature cannot be read" + at(c.offset));
        auto signature = readCodeSignature(blob, budget);
        if (!signature) return Result<bool>::failure(signature.error());
        out.signature = std::move(*signature);
    }
    return Result<bool>::success(true);
}

SliceResult readSlice(const ByteSource& source, const Slice& slice, const CodeBudget& budget) {
    SliceDetails out;
    out.cputype = slice.cputype;
    out.cpusubtype = slice.cpusubtype;
    const std::uint64_t headerSize = slice.is64Bit ? kMachHeader64Size : kMachHeaderSize;
    std::array<std::uint8_t, kMachHeader64Size> header{};
    if (slice.size < headerSize || !source.read(slice.offset, std::span(header).first(headerSize)))
        return fail<SliceDetails>(kObject, "slice size", slice.size, "shorter than its header" + at(slice.offset));
    const bool be = slice.bigEndian;
    out.filetype = readU32(header, 12, be).value_or(0);
    const std::uint32_t ncmds = readU32(header, 16, be).value_or(0);
    const std::uint32_t sizeofcmds = readU32(header, 20, be).value_or(0);
    out.flags = readU32(header, 24, be).value_or(0);
    out.loadCommands = ncmds;
    if (ncmds > budget.loadCommands)
        return fail<SliceDetails>(kObject, "ncmds", ncmds,
                                  "more load commands than the reader's budget of " + std::to_string(budget.loadCommands) +
                                      at(slice.offset + 16));
    if (sizeofcmds > budget.loadCommandBytes)
        return fail<SliceDetails>(kObject, "sizeofcmds", sizeofcmds, "beyond the reader's budget" + at(slice.offset + 20));
    if (sizeofcmds > slice.size - headerSize)
        return fail<SliceDetails>(kObject, "sizeofcmds", sizeofcmds,
                                  "the load commands run past the slice of " + hexText(slice.size) + " bytes" +
                                      at(slice.offset + 20));
    std::vector<std::uint8_t> commands(sizeofcmds);
    if (!source.read(slice.offset + headerSize, commands))
        return fail<SliceDetails>(kObject, "sizeofcmds", sizeofcmds, "the load commands cannot be read" + at(slice.offset + 20));

    std::uint64_t offset = 0;
    for (std::uint32_t i = 0; i < ncmds; ++i) {
        Command c;
        c.index = i;
        c.bigEndian = be;
        c.offset = headerSize + offset;
        const auto cmd = readU32(commands, offset, be);
        const auto cmdsize = readU32(commands, offset + 4, be);
        if (!cmd || !cmdsize)
            return fail<SliceDetails>(kObject, c.field("offset"), c.offset,
                                      "past the end of the load commands of " + hexText(sizeofcmds) + " bytes");
        c.cmd = *cmd;
        if (*cmdsize < 8 || *cmdsize % 4 != 0)
            return fail<SliceDetails>(kObject, c.field("cmdsize"), *cmdsize,
                                      "less than 8 or not a multiple of 4" + at(c.offset));
        const auto bytes = subspan(commands, offset, *cmdsize);
        if (!bytes)
            return fail<SliceDetails>(kObject, c.field("cmdsize"), *cmdsize,
                                      "runs past the load commands of " + hexText(sizeofcmds) + " bytes" + at(c.offset));
        c.bytes = *bytes;
        auto read = readCommand(c, source, slice, budget, out);
        if (!read) return SliceResult::failure(read.error());
        offset += *cmdsize;
    }
    return SliceResult::success(std::move(out));
}

}  // namespace

Result<CodeSignature> readCodeSignature(ByteSpan blob, const CodeBudget& budget) {
    using R = Result<CodeSignature>;
    // SuperBlob: magic, length, count, then count {type, offset} entries.
    if (blob.size() < 12) return fail<CodeSignature>(kSignature, "size", blob.size(), "shorter than a SuperBlob");
    if (const std::uint32_t magic = be32(blob, 0); magic != CSMAGIC_EMBEDDED_SIGNATURE)
        return fail<CodeSignature>(kSignature, "magic", magic, "not an embedded signature");
    const std::uint32_t length = be32(blob, 4);
    if (length < 12 || length > blob.size())
        return fail<CodeSignature>(kSignature, "length", length, "outside the signature of " + hexText(blob.size()) + " bytes");
    const ByteSpan super = blob.first(length);
    const std::uint32_t count = be32(super, 8);
    if (count > budget.signatureBlobs)
        return fail<CodeSignature>(kSignature, "count", count,
                                   "more blobs than the reader's budget of " + std::to_string(budget.signatureBlobs));
    if (count > (length - 12) / 8)
        return fail<CodeSignature>(kSignature, "count", count, "the blob index runs past the SuperBlob");

    CodeSignature signature;
    signature.blobCount = count;
    bool hasDirectory = false, hasCms = false;
    std::string bestHash;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::string where = "blob[" + std::to_string(i) + "]";
        const std::uint32_t type = be32(super, 12 + 8 * i);
        const std::uint32_t offset = be32(super, 16 + 8 * i);
        if (offset < 12 + 8 * std::uint64_t{count} || offset > length - 8)
            return fail<CodeSignature>(kSignature, where + ".offset", offset,
                                       "outside the SuperBlob of " + hexText(length) + " bytes");
        const std::uint32_t magic = be32(super, offset);
        const std::uint32_t size = be32(super, offset + 4);
        if (size < 8 || size > length - offset)
            return fail<CodeSignature>(kSignature, where + ".length", size,
                                       "the blob at " + hexText(offset) + " runs past the SuperBlob");
        const ByteSpan body = super.subspan(offset, size);
        if (type == CSSLOT_CODEDIRECTORY || (type >= CSSLOT_ALTERNATE_CODEDIRECTORIES && type < CSSLOT_ALTERNATE_CODEDIRECTORIES + 5)) {
            if (magic != CSMAGIC_CODEDIRECTORY)
                return fail<CodeSignature>(kSignature, where + ".magic", magic, "not a CodeDirectory");
            if (size > budget.codeDirectoryBytes)
                return fail<CodeSignature>(kSignature, where + ".length", size, "a CodeDirectory beyond the reader's budget");
            auto dir = readCodeDirectory(body, where);
            if (!dir) return R::failure(dir.error());
            if (type == CSSLOT_CODEDIRECTORY) {
                hasDirectory = true;
                signature.identifier = dir->identifier;
                signature.teamId = dir->teamId;
                signature.flags = dir->flags;
                signature.hashType = dir->hashType;
            }
            if (bestHash.empty()) bestHash = dir->cdHash;
        } else if (type == CSSLOT_ENTITLEMENTS && magic == CSMAGIC_EMBEDDED_ENTITLEMENTS) {
            if (size - 8 > budget.entitlementBytes)
                return fail<CodeSignature>(kSignature, where + ".length", size, "entitlements beyond the reader's budget");
            signature.entitlements.assign(body.begin() + 8, body.end());
        } else if (type == CSSLOT_DER_ENTITLEMENTS && magic == CSMAGIC_EMBEDDED_DER_ENTITLEMENTS) {
            signature.derEntitlementBytes = size - 8;
        } else if (type == CSSLOT_SIGNATURESLOT && magic == CSMAGIC_BLOBWRAPPER) {
            // An ad hoc signature may keep the slot with nothing in it.
            hasCms = size > 8;
        }
    }
    if (!hasDirectory) return fail<CodeSignature>(kSignature, "count", count, "no CodeDirectory among the blobs");
    signature.cdHash = bestHash;
    signature.kind = (signature.flags & CS_ADHOC) || !hasCms ? SignatureKind::AdHoc : SignatureKind::Signed;
    return R::success(std::move(signature));
}

Result<std::vector<SliceDetails>> readCodeDetails(const ByteSource& source, const CodeBudget& budget) {
    using R = Result<std::vector<SliceDetails>>;
    const auto binary = parse(source);
    if (!binary) return R::failure(binary.error());
    std::vector<SliceDetails> slices;
    for (const Slice& slice : binary->slices) {
        auto details = readSlice(source, slice, budget);
        if (!details) return R::failure(details.error());
        slices.push_back(std::move(*details));
    }
    return R::success(std::move(slices));
}

Result<std::vector<SliceDetails>> readCodeDetailsOfFile(const std::string& path, const CodeBudget& budget) {
    auto source = FileSource::open(path);
    if (!source) return Result<std::vector<SliceDetails>>::failure(source.error());
    return readCodeDetails(*source, budget);
}

std::string versionText(std::uint32_t packed) {
    std::string out = std::to_string(packed >> 16) + "." + std::to_string((packed >> 8) & 0xff);
    if (packed & 0xff) out += "." + std::to_string(packed & 0xff);
    return out;
}

std::string platformName(std::uint32_t platform) {
    static constexpr const char* kNames[] = {nullptr,         "macOS",          "iOS",           "tvOS",
                                             "watchOS",       "bridgeOS",       "Mac Catalyst",  "iOS Simulator",
                                             "tvOS Simulator", "watchOS Simulator", "DriverKit", "visionOS",
                                             "visionOS Simulator"};
    if (platform > 0 && platform < std::size(kNames)) return kNames[platform];
    return "platform " + std::to_string(platform);
}

std::vector<std::string> signatureFlagNames(std::uint32_t flags) {
    static constexpr std::pair<std::uint32_t, const char*> kFlags[] = {
        {CS_ADHOC, "ad hoc"},
        {0x4, "get task allowed"},
        {CS_HARD, "hard"},
        {CS_KILL, "kill"},
        {0x400, "check expiration"},
        {CS_RESTRICT, "restrict"},
        {CS_ENFORCEMENT, "enforcement"},
        {CS_REQUIRE_LV, "library validation"},
        {CS_RUNTIME, "hardened runtime"},
        {CS_LINKER_SIGNED, "linker signed"},
    };
    std::vector<std::string> names;
    for (const auto& [bit, name] : kFlags)
        if (flags & bit) names.emplace_back(name);
    return names;
}

std::string fileTypeName(std::uint32_t filetype) {
    switch (filetype) {
    case 0x1: return "object";
    case MH_EXECUTE: return "executable";
    case 0x7: return "dynamic linker";
    case MH_DYLIB: return "dynamic library";
    case MH_BUNDLE: return "bundle";
    case 0x9: return "dynamic library stub";
    case 0xa: return "debug symbols";
    case 0xb: return "kernel extension";
    default: return "file type " + hexText(filetype);
    }
}

std::string uuidText(const std::array<std::uint8_t, 16>& uuid) {
    std::string hex;
    for (std::size_t i = 0; i < uuid.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) hex += '-';
        char two[3];
        std::snprintf(two, sizeof two, "%02X", uuid[i]);
        hex += two;
    }
    return hex;
}

}  // namespace vesk::platform::macho
