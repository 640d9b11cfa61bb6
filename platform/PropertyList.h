// Reading and writing property-list files (XML and binary) through libplist.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace vesk::platform {

// The value at the root of an XML or binary property list, or nothing when the
// bytes are neither.
std::optional<Value> parsePropertyList(std::string_view bytes);

// The root only when it is a dictionary (dictionaryWithContentsOfFile:); a
// missing or unreadable file, or another root, gives nothing.
std::optional<Dictionary> dictionaryWithContentsOfFile(const std::string& path);

std::string toXmlPropertyList(const Value& value);

}  // namespace vesk::platform
