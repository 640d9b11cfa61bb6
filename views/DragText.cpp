// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/DragText.h"

#include <optional>
#include <unordered_set>

namespace vesk {

namespace {

std::string_view trimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const auto eol = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, eol));
        if (!line.empty()) out.push_back(line);
        if (eol == std::string_view::npos) break;
        text.remove_prefix(eol + 1);
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percentDecoded(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2])));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

bool startsWithIgnoringCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

// The part of a file URI after "file://" and its host, or nothing.
std::optional<std::string_view> fileUriPath(std::string_view uri) {
    if (!startsWithIgnoringCase(uri, "file://")) return std::nullopt;
    uri.remove_prefix(7);
    if (startsWithIgnoringCase(uri, "localhost/")) uri.remove_prefix(9);
    if (uri.empty() || uri.front() != '/') return std::nullopt;
    return uri;
}

}  // namespace

std::string localPathOfFileUri(std::string_view uri) {
    const auto path = fileUriPath(trimmed(uri));
    return path ? percentDecoded(*path) : std::string();
}

std::vector<std::string> urisOfUriList(std::string_view list) {
    std::vector<std::string> out;
    for (const auto line : lines(list))
        if (line.front() != '#') out.emplace_back(line);
    return out;
}

std::vector<std::string> urisOfGnomeList(std::string_view list) {
    std::vector<std::string> out;
    for (auto line : lines(list)) {
        line = line.substr(0, line.find('\r'));
        if (line == "copy" || line == "cut") continue;
        out.emplace_back(trimmed(line));
    }
    return out;
}

bool textIsFileList(std::string_view text, const std::vector<std::string>& uris) {
    // Each file in the forms a text may name it by: its URI as written, and
    // its path (which a decoded URI, an undecoded one and a plain path all give).
    std::unordered_set<std::string> names;
    for (const auto& uri : uris) {
        names.insert(std::string(trimmed(uri)));
        if (const auto path = fileUriPath(trimmed(uri))) {
            names.insert(percentDecoded(*path));
            names.insert(std::string(*path));
        }
    }
    auto all = lines(text);
    // GNOME Files' clipboard text starts with a header, then the action.
    std::size_t first = 0;
    if (first < all.size() && all[first] == "x-special/nautilus-clipboard") ++first;
    if (first < all.size() && (all[first] == "copy" || all[first] == "cut")) ++first;
    for (std::size_t i = first; i < all.size(); ++i) {
        const std::string_view line = all[i];
        if (names.count(std::string(line))) continue;
        if (const auto path = fileUriPath(line)) {
            if (names.count(std::string(*path)) || names.count(percentDecoded(*path))) continue;
        }
        return false;
    }
    return true;
}

}  // namespace vesk
