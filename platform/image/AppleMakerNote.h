// SPDX-License-Identifier: GPL-3.0-or-later
// The Apple maker note: "Apple iOS\0", a version, "MM", then a big-endian IFD
// whose value offsets count from the start of the note.
#pragma once

#include <optional>

#include "platform/Value.h"
#include "platform/Bytes.h"

namespace vesk::platform::image {

// Under this key the note says, in one text, which of its property lists a
// budget refused ("RunTime: property list over budget (...), and 3 more
// lists"), for the image report to log; the report takes the key out before
// anything shows it. No tag can have this name.
inline constexpr const char* kAppleMakerNoteBudgetCutsKey = "{BudgetCuts}";

// The note's tags by name (or number), binary property lists decoded; nothing
// when the bytes are no Apple maker note.
std::optional<Dictionary> readAppleMakerNote(ByteSpan note);

}  // namespace vesk::platform::image
