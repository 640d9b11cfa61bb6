// SPDX-License-Identifier: GPL-3.0-or-later
// The load-command and signature reader over Mach-O files built from the
// input: a valid header, then commands and SuperBlob entries whose kinds,
// sizes, offsets and counts the input chooses, so most runs get past the
// header checks and into the commands. The reader must refuse with a reason
// or give details that lie inside the file and its budgets.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform/macho/CodeDetails.h"
#include "platform/macho/MachOConstants.h"

namespace {

using namespace vesk::platform::macho;

struct Input {
    std::span<const std::uint8_t> bytes;
    std::size_t at = 0;
    std::uint32_t take(std::uint32_t otherwise = 0) {
        if (bytes.size() - at < 4) return otherwise;
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= std::uint32_t{bytes[at++]} << (8 * i);
        return v;
    }
    std::uint8_t byte() { return at < bytes.size() ? bytes[at++] : 0; }
};

void put(std::vector<std::uint8_t>& out, std::uint32_t v, bool bigEndian = false) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (bigEndian ? 24 - 8 * i : 8 * i)));
}

constexpr std::uint32_t kCommands[] = {LC_LOAD_DYLIB,        LC_ID_DYLIB,       LC_LOAD_WEAK_DYLIB, LC_REEXPORT_DYLIB,
                                       LC_LAZY_LOAD_DYLIB,   LC_LOAD_UPWARD_DYLIB, LC_RPATH,         LC_UUID,
                                       LC_BUILD_VERSION,     LC_VERSION_MIN_MACOSX, LC_CODE_SIGNATURE, 0x19};
constexpr std::uint32_t kBlobMagics[] = {CSMAGIC_CODEDIRECTORY, CSMAGIC_EMBEDDED_ENTITLEMENTS, CSMAGIC_REQUIREMENTS,
                                         CSMAGIC_EMBEDDED_DER_ENTITLEMENTS, CSMAGIC_BLOBWRAPPER};
constexpr std::uint32_t kSlots[] = {CSSLOT_CODEDIRECTORY, CSSLOT_ENTITLEMENTS, CSSLOT_REQUIREMENTS,
                                    CSSLOT_DER_ENTITLEMENTS, CSSLOT_SIGNATURESLOT, CSSLOT_ALTERNATE_CODEDIRECTORIES};

// A SuperBlob with the input's entries, each blob's body the input's bytes.
std::vector<std::uint8_t> signature(Input& in) {
    std::vector<std::uint8_t> blob;
    const std::uint32_t count = in.byte() % 6;
    put(blob, CSMAGIC_EMBEDDED_SIGNATURE, true);
    put(blob, 0, true);  // the length, below
    put(blob, in.byte() == 0xff ? in.take() : count, true);
    std::vector<std::uint8_t> bodies;
    const std::uint32_t indexEnd = 12 + 8 * count;
    for (std::uint32_t i = 0; i < count; ++i) {
        put(blob, kSlots[in.byte() % std::size(kSlots)], true);
        const std::uint32_t offset = indexEnd + static_cast<std::uint32_t>(bodies.size());
        put(blob, in.byte() == 0xff ? in.take() : offset, true);
        const std::uint32_t size = 8 + in.byte() * 4u;
        put(bodies, kBlobMagics[in.byte() % std::size(kBlobMagics)], true);
        put(bodies, in.byte() == 0xff ? in.take() : size, true);
        for (std::uint32_t b = 8; b < size; ++b) bodies.push_back(in.byte());
    }
    blob.insert(blob.end(), bodies.begin(), bodies.end());
    const auto length = static_cast<std::uint32_t>(blob.size());
    for (int i = 0; i < 4; ++i) blob[4 + i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
    return blob;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in{std::span<const std::uint8_t>(data, size)};
    std::vector<std::uint8_t> commands;
    std::vector<std::uint8_t> sig;
    const std::uint32_t ncmds = in.byte() % 16;
    for (std::uint32_t i = 0; i < ncmds; ++i) {
        const std::uint32_t cmd = kCommands[in.byte() % std::size(kCommands)];
        std::uint32_t cmdsize = 8 + (in.byte() % 16) * 4;
        if (in.byte() == 0xff) cmdsize = in.take();
        put(commands, cmd);
        put(commands, cmdsize);
        if (cmd == LC_CODE_SIGNATURE) {
            sig = signature(in);
            put(commands, in.byte() == 0xff ? in.take() : 0);  // the offset, patched below when 0
            put(commands, static_cast<std::uint32_t>(sig.size()));
            for (std::uint32_t b = 16; b < cmdsize && b < 64; ++b) commands.push_back(in.byte());
        } else {
            for (std::uint32_t b = 8; b < cmdsize && b < 64; ++b) commands.push_back(in.byte());
        }
    }
    std::vector<std::uint8_t> file;
    for (std::uint32_t v : {MH_CIGAM_64, 0x0100000cu, 0u, MH_DYLIB, ncmds, static_cast<std::uint32_t>(commands.size()), 0u, 0u})
        put(file, v, v == MH_CIGAM_64);
    const std::size_t commandsAt = file.size();
    file.insert(file.end(), commands.begin(), commands.end());
    // Point a zero signature offset at the blob, now that its place is known.
    for (std::size_t at = 0; at + 16 <= commands.size();) {
        const std::uint32_t cmd = commands[at] | commands[at + 1] << 8 | commands[at + 2] << 16 | std::uint32_t{commands[at + 3]} << 24;
        const std::uint32_t cmdsize = commands[at + 4] | commands[at + 5] << 8 | commands[at + 6] << 16 | std::uint32_t{commands[at + 7]} << 24;
        if (cmd == LC_CODE_SIGNATURE && file[commandsAt + at + 8] == 0 && file[commandsAt + at + 9] == 0)
            for (int i = 0; i < 4; ++i) file[commandsAt + at + 8 + i] = static_cast<std::uint8_t>(file.size() >> (8 * i));
        if (cmdsize < 8) break;
        at += cmdsize;
    }
    file.insert(file.end(), sig.begin(), sig.end());

    const auto result = readCodeDetails(vesk::platform::SpanSource(file));
    if (!result) {
        if (result.error().empty()) std::abort();
    } else {
        for (const auto& slice : *result) {
            if (slice.libraries.size() > CodeBudget{}.libraries) std::abort();
            if (slice.signature.entitlements.size() > file.size()) std::abort();
        }
    }
    // The raw input as a signature too.
    (void)readCodeSignature(std::span<const std::uint8_t>(data, size));
    return 0;
}
