// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and writing property-list files (XML and binary) through libplist.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Result.h"
#include "platform/Value.h"

namespace vesk::platform {

// Budgets every property list is held to before libplist sees its bytes:
// libplist recurses on parse, free and its cycle check, and expands an object
// that is referred to twice into two copies, so a list of a few kilobytes can
// stand for millions of objects nested millions deep.
// Containers above the deepest object (the root is at 0).
inline constexpr int kPropertyListMaxDepth = 256;
// Objects once expanded: an object referred to n times counts n times.
inline constexpr std::uint64_t kPropertyListMaxNodes = 100'000;
// Bytes of text and data once expanded, counted the same way; a list larger
// than this may expand to its own size.
inline constexpr std::uint64_t kPropertyListMaxExpandedBytes = 16 * 1024 * 1024;
// Bytes of a property-list file read from disk.
inline constexpr std::size_t kPropertyListMaxFileBytes = 16 * 1024 * 1024;

// What the lists read against one budget have spent. The lists of one report
// share one, so that many small lists cannot add up to what one list may not;
// a list refused spends all that is left, so the lists after it cost nothing.
struct PropertyListBudget {
    std::uint64_t nodes = 0;
    std::uint64_t expandedBytes = 0;
};

// The value at the root of an XML or binary property list: nothing when the
// bytes are neither, an error when the list is over a budget or contains
// itself (it says which, for the caller's one log line).
Result<std::optional<Value>> readPropertyList(std::string_view bytes);
// The same, spending from a budget shared with other lists.
Result<std::optional<Value>> readPropertyList(std::string_view bytes, PropertyListBudget& budget);

// The same for a file whose root must be a dictionary; a missing or
// unreadable file, or another root, gives nothing.
Result<std::optional<Dictionary>> readDictionaryWithContentsOfFile(const std::string& path);

// The same for bytes that would have been such a file's content, under the
// same limits (a list larger than a file may be reads as nothing).
Result<std::optional<Dictionary>> readDictionaryFromBytes(std::string_view bytes);

// readPropertyList with a refusal read as nothing.
std::optional<Value> parsePropertyList(std::string_view bytes);

// dictionaryWithContentsOfFile:, a refusal read as nothing.
std::optional<Dictionary> dictionaryWithContentsOfFile(const std::string& path);

// An XML property list that a strict XML reader takes: a text holding one of
// the few characters XML 1.0 cannot hold is written with it escaped.
std::string toXmlPropertyList(const Value& value);

}  // namespace vesk::platform
