// SPDX-License-Identifier: GPL-3.0-or-later
// The Mach-O reader over arbitrary bytes: it must either reject them with a
// message or yield slices that lie inside the input.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/macho/MachOReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vesk::platform::macho;
    const auto result = parse(std::span<const std::uint8_t>(data, size));
    if (!result) {
        if (result.error().empty()) std::abort();
        return 0;
    }
    if (result.value().slices.empty()) std::abort();
    for (const Slice& s : result.value().slices)
        if (s.offset > size || s.size > size - s.offset) std::abort();
    return 0;
}
