// The Apple maker note: "Apple iOS\0", a version, "MM", then a big-endian IFD
// whose value offsets count from the start of the note.
#pragma once

#include <optional>

#include "platform/Value.h"
#include "platform/Bytes.h"

namespace vesk::platform::image {

// The note's tags by name (or number), binary property lists decoded; nothing
// when the bytes are no Apple maker note.
std::optional<Dictionary> readAppleMakerNote(ByteSpan note);

}  // namespace vesk::platform::image
