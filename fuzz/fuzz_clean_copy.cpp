// SPDX-License-Identifier: GPL-3.0-or-later
// The cleaner over any bytes: the first byte picks the level and the format
// the rest is dressed as. A copy is either saved whole (its picture data the
// original's, nothing of the removed kind left) or not there at all; the
// input is never changed.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "FuzzSupport.h"
#include "inspector/CleanCopy.h"
#include "platform/FileSystem.h"
#include "platform/image/MetadataCleaner.h"

namespace img = vesk::platform::image;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // Fuzzed bytes behind a real signature reach the format walks and Exiv2's
    // writer rather than the format check alone.
    static const char* const kHeads[] = {"", "\xFF\xD8\xFF", "II*\0", "\x89PNG\r\n\x1A\n"};
    static const std::size_t kHeadSizes[] = {0, 3, 4, 8};
    const unsigned pick = data[0] & 3;
    std::string bytes(kHeads[pick], kHeadSizes[pick]);
    bytes.append(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto* input = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::string original = vesk::fuzz::scratchFile(input, bytes.size(), "input");
    const std::string copy = vesk::fuzz::scratchDir() + "/copy";
    ::unlink(copy.c_str());
    const auto level = (data[0] & 4) ? img::CleanLevel::All : img::CleanLevel::Location;
    const auto outcome = vesk::saveCleanCopy(original, copy, level, vesk::fuzz::quietServices().services.log);
    const auto after = vesk::platform::readFileBounded(original, bytes.size() + 1);
    if (!after || *after != bytes) std::abort();  // the original changed
    if (outcome.saved != vesk::platform::fileExists(copy)) std::abort();  // a copy half there
    return 0;
}
