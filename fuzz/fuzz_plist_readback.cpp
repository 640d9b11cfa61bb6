// SPDX-License-Identifier: GPL-3.0-or-later
// The user comment's read-back: any bytes in usercomment.xml, read as a
// property list whose root must be a dictionary, then rendered.
#include <cstdint>

#include "FuzzSupport.h"
#include "platform/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = vesk::fuzz::scratchFile(data, size, "usercomment.xml");
    if (auto dict = vesk::platform::dictionaryWithContentsOfFile(path))
        (void)vesk::platform::describe(vesk::platform::Value(std::move(*dict)));
    return 0;
}
