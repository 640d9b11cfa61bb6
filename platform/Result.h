// SPDX-License-Identifier: GPL-3.0-or-later
// What a reader gives back: a value, or an error message that says what was
// wrong, in LLVM's manner ("truncated or malformed fat file (fat_arch[1].offset
// 0x5000: past the end of the file of 0x4000 bytes)"). A reader whose callers
// must tell kinds of failure apart gives an error type of its own that
// carries that message beside the kind.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vesk::platform {

template <typename T, typename E = std::string>
class Result {
public:
    static Result success(T value) { return Result(std::move(value), {}); }
    static Result failure(E error) { return Result(std::nullopt, std::move(error)); }

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    // Only for a result that is ok().
    const T& value() const { return *value_; }
    T& value() { return *value_; }
    const T& operator*() const { return *value_; }
    T& operator*() { return *value_; }
    const T* operator->() const { return &*value_; }
    T* operator->() { return &*value_; }
    // Empty for a result that is ok().
    const E& error() const { return error_; }

private:
    Result(std::optional<T> value, E error) : value_(std::move(value)), error_(std::move(error)) {}
    std::optional<T> value_;
    E error_;
};

// "0x1f": values from a file are shown as the format tools show them.
inline std::string hexText(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

// "truncated or malformed <what> (<field> <value in hex>: <problem>)": every
// complaint names the kind of file, the field and the value that was wrong.
inline std::string malformedMessage(std::string_view what, std::string_view field, std::uint64_t value,
                                    std::string_view problem) {
    std::string message = "truncated or malformed ";
    message += what;
    message += " (";
    message += field;
    message += ' ';
    message += hexText(value);
    message += ": ";
    message += problem;
    message += ')';
    return message;
}

}  // namespace vesk::platform
