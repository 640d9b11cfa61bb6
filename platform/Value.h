// SPDX-License-Identifier: GPL-3.0-or-later
// Property-list values: what the image reader yields, what events carry and
// what the log and the info fields render with "%@".
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vesk::platform {

class Value;

using Array = std::vector<Value>;
using Dictionary = std::map<std::string, Value>;  // keys render in byte order
using Data = std::vector<std::uint8_t>;

// A point in time, seconds since 1970-01-01 UTC (property-list <date>).
struct Date {
    double secondsSince1970 = 0;
    bool operator==(const Date&) const = default;
};

// A file URL; an event may carry one where it would otherwise carry a path.
struct Url {
    std::string path;
    bool operator==(const Url&) const = default;
};

class Value {
public:
    using Storage = std::variant<std::string, std::int64_t, double, bool, Date, Data, Array,
                                 Dictionary, Url>;

    Value() : v_(std::string()) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::int64_t i) : v_(i) {}
    Value(int i) : v_(static_cast<std::int64_t>(i)) {}
    Value(unsigned i) : v_(static_cast<std::int64_t>(i)) {}
    Value(double d) : v_(d) {}
    Value(bool b) : v_(b) {}
    Value(Date d) : v_(d) {}
    Value(Data d) : v_(std::move(d)) {}
    Value(Array a) : v_(std::move(a)) {}
    Value(Dictionary d) : v_(std::move(d)) {}
    Value(Url u) : v_(std::move(u)) {}

    template <typename T> bool is() const { return std::holds_alternative<T>(v_); }
    template <typename T> const T* get() const { return std::get_if<T>(&v_); }
    template <typename T> T* get() { return std::get_if<T>(&v_); }
    const Storage& storage() const { return v_; }

    bool operator==(const Value&) const = default;

private:
    Storage v_;
};

// The most text one rendering makes: past it the rest is left out and the
// place says "<... cut at 1 MB>"; containers are still closed.
inline constexpr std::size_t kMaxRenderedBytes = 1 << 20;

// The Dictionary text of a value: property-list style, nested containers
// indented four blanks a level, text quoted only where it must be.
std::string describe(const Value& value);
// The same, and whether the text was cut.
std::string describe(const Value& value, bool& cut);
// The same within `limit` bytes (at most kMaxRenderedBytes): for texts that
// share one budget.
std::string describe(const Value& value, bool& cut, std::size_t limit);
// The same for a dictionary not held in a Value: no copy of it is made.
std::string describe(const Dictionary& dictionary, bool& cut, std::size_t limit);
// Where the text of a dictionary held in a dictionary lies in the text of
// the outer one: `size` bytes from `offset`, with where its indentations
// start (each four blanks wider there than in the dictionary's own text).
struct NestedText {
    const Dictionary* dictionary;
    std::size_t offset, size;
    std::vector<std::size_t> indents;
};
// describe() of a value, also telling where the text of each dictionary
// directly in it lies (for a dictionary value; nothing for any other).
std::string describe(const Value& value, bool& cut, std::size_t limit, std::vector<NestedText>& nested);
// describe(*nested.dictionary, cut, limit) taken from the outer text, which
// holds it one level in, when the outer text was not cut; nothing when the
// text is too near `limit` to be sure it would not be cut on its own.
std::optional<std::string> describeNested(std::string_view text, const NestedText& nested, std::size_t limit);
// The size of describe(value), the text itself not kept.
std::size_t describedSize(const Value& value);
// A missing value describes as "(null)".
std::string describe(const std::optional<Value>& value);
std::string describe(const Value* value);

// JSON form of a value (data as base64, dates as ISO 8601); nullptr -> null.
// Cut like the text, into JSON that still parses.
std::string toJson(const Value* value);
// A JSON string literal of UTF-8 text (invalid bytes become U+FFFD).
std::string jsonString(const std::string& text);
// The same literal, appended to `out`.
void appendJsonString(std::string& out, const std::string& text);

}  // namespace vesk::platform
