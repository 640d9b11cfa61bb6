// SPDX-License-Identifier: GPL-3.0-or-later
// SHA-256 (FIPS 180-4), for the code directory hash a signature is known by.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace vesk::platform::macho {

std::array<std::uint8_t, 32> sha256(std::span<const std::uint8_t> bytes);

}  // namespace vesk::platform::macho
