// SPDX-License-Identifier: GPL-3.0-or-later
// The image-property reader over any bytes, named as a JPEG so that every
// reader behind it (Exiv2, the JPEG, JPEG 2000 and Apple readers) may look.
#include <cstdint>

#include "FuzzSupport.h"
#include "platform/Value.h"
#include "platform/image/ImageSource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = vesk::fuzz::scratchFile(data, size, "input.jpg");
    if (auto source = vesk::platform::ImageSource::createWithPath(path))
        if (auto props = source->copyPropertiesAtIndex(0)) (void)vesk::platform::describe(vesk::platform::Value(*props));
    return 0;
}
