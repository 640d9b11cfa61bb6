// SPDX-License-Identifier: GPL-3.0-or-later
// The command runner's decoding: strict UTF-8 up to the first zero byte. The
// strict check, the replacing sanitizer and the UTF-16 count must agree.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/Utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vesk::platform;
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    bytes = bytes.substr(0, bytes.find('\0'));
    const bool valid = utf8::isValid(bytes);
    const std::string clean = utf8::sanitize(bytes);
    if (!utf8::isValid(clean)) std::abort();
    if (valid != (clean == bytes)) std::abort();
    if (utf8::utf16Length(bytes) > bytes.size()) std::abort();
    return 0;
}
