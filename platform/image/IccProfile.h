// SPDX-License-Identifier: GPL-3.0-or-later
// The description of an embedded ICC colour profile (its 'desc' tag).
#pragma once

#include <optional>
#include <string>

#include "platform/Bytes.h"

namespace vesk::platform::image {

// The profile's description text, from a version 2 'desc' or a version 4
// 'mluc' tag; nothing when the profile has none or is malformed.
std::optional<std::string> iccProfileDescription(ByteSpan profile);

}  // namespace vesk::platform::image
