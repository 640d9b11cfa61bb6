// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Forms.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "cli/Common.h"
#include "inspector/Routing.h"
#include "inspector/InfoKeys.h"
#include "inspector/ReportText.h"
#include "platform/Value.h"

namespace vesk::cli {

namespace pf = vesk::platform;

std::string jsonReport(const std::string& given, const std::map<std::string, std::string>& store) {
    // Room for the texts and a little escaping, so the report is seldom moved.
    std::size_t size = 64 + 2 * given.size();
    for (const auto& [key, text] : store) size += key.size() + text.size() + text.size() / 16 + 8;
    std::string out;
    out.reserve(size);
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "{" + text at -O3.
    out += '{';
    out += jsonPathMembers(given);
    out += ", \"store\": {";
    bool first = true;
    for (const char* key : kReportKeys) {
        auto it = store.find(key);
        if (it == store.end()) continue;
        if (!first) out += ", ";
        first = false;
        pf::appendJsonString(out, it->first);
        out += ": ";
        pf::appendJsonString(out, it->second);
    }
    out += "}}\n";
    return out;
}

namespace {

std::string_view titleOf(std::string_view group) {
    if (group.empty()) return kTopLevelGroupTitle;
    if (group.size() > 2 && group.front() == '{' && group.back() == '}') return group.substr(1, group.size() - 2);
    return group;
}

}  // namespace

std::string groupTitle(const std::string& group) { return std::string(titleOf(group)); }

namespace {

// One tag a line: a line break inside a value is shown, not made.
std::string oneLine(const std::string& text) {
    std::string out = shown(text);
    for (std::size_t at = 0; (at = out.find('\n', at)) != std::string::npos; at += 2) out.replace(at, 1, "\\n");
    return out;
}

}  // namespace

namespace {

// ASCII letters alike in either case, as tag names are written; no copies,
// as every row of every file is matched against every tag.
bool sameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The dictionary cut to the chosen tags; a group none of whose keys is chosen goes.
pf::Dictionary chosenProperties(const pf::Dictionary& properties, const std::vector<std::string>& tags) {
    pf::Dictionary out;
    const auto chosen = [&](const std::string& group, const std::string& key) {
        return std::any_of(tags.begin(), tags.end(), [&](const std::string& t) { return tagMatches(t, group, key); });
    };
    for (const auto& [key, value] : properties) {
        if (const auto* group = value.get<pf::Dictionary>()) {
            pf::Dictionary kept;
            for (const auto& [inner, v] : *group)
                if (chosen(key, inner)) kept.emplace(inner, v);
            if (!kept.empty()) out.emplace(key, pf::Value(std::move(kept)));
        } else if (chosen("", key)) {
            out.emplace(key, value);
        }
    }
    return out;
}

// The summary's labels as --csv's columns; a bundle's one architecture goes
// with the many of others.
constexpr const char* kCsvLabels[] = {"Camera",   "Lens",     "Exposure",      "Flash", "Taken",
                                      "Size",     "File size", "Position",     "Altitude",
                                      "Architectures", "Kind", "Code"};

std::string csvField(const std::string& text) {
    // RFC 4180: a field holding a comma, a quote or a line break is quoted, its quotes doubled.
    const std::string value = shown(text);
    if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
    std::string out = "\"";
    for (char c : value) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

}  // namespace

bool tagMatches(std::string_view tag, std::string_view group, std::string_view key) {
    const auto colon = tag.find(':');
    if (colon == std::string_view::npos) return sameLetters(tag, key);
    return sameLetters(tag.substr(colon + 1), key) && sameLetters(tag.substr(0, colon), titleOf(group));
}

bool rowChosen(const PropertyRow& row, const std::vector<std::string>& tags) {
    return keyChosen(row.group, row.key, tags) || (row.name != row.key && keyChosen(row.group, row.name, tags));
}

bool keyChosen(std::string_view group, std::string_view key, const std::vector<std::string>& tags) {
    for (const auto& tag : tags)
        if (tagMatches(tag, group, key)) return true;
    return false;
}

std::string csvHeader(const std::vector<std::string>& tags) {
    std::string out = "path";
    if (tags.empty())
        for (const char* label : kCsvLabels) out += ',', out += csvField(label);
    for (const auto& tag : tags) out += ',', out += csvField(tag);
    return out + "\r\n";
}

std::string csvRow(const std::string& given, const Reading& reading, const std::vector<std::string>& tags) {
    std::string out = csvField(given);
    if (tags.empty()) {
        for (const char* label : kCsvLabels) {
            std::string text;
            for (const auto& line : reading.summary.lines)
                if (line.label == label || (line.label == "Architecture" && std::string_view(label) == "Architectures")) {
                    text = line.text;
                    break;
                }
            out += ',', out += csvField(text);
        }
    }
    for (const auto& tag : tags) {
        std::string text;
        for (const auto& row : reading.rows)
            if (rowChosen(row, {tag})) {
                text = row.readable;
                break;
            }
        out += ',', out += csvField(text);
    }
    return out + "\r\n";
}

std::string jsonObject(const std::string& given, const std::string& path, const Reading& reading,
                       const std::vector<std::string>& tags) {
    std::string out = "{";
    out += jsonPathMembers(given);
    out += ", \"kind\": ";
    out += pf::jsonString(reading.kind);
    // summaryJson's members after its path: one list of labelled values, the
    // position, the reveals.
    const std::string summary = summaryJson("", reading.summary);
    const std::string prefix = '{' + jsonPathMembers("");
    out += summary.substr(prefix.size(), summary.size() - prefix.size() - 2);
    const std::string_view kind = reading.kind;
    if (reading.code) out += ", \"code\": " + codeJson(*reading.code);
    if (kind == "image" && reading.properties) {
        const pf::Value value(tags.empty() ? *reading.properties : chosenProperties(*reading.properties, tags));
        out += ", \"properties\": " + pf::toJson(&value);
    } else if (kind == "bundle") {
        out += ", \"architectures\": [";
        std::size_t start = 0, count = 0;
        while (start < reading.field.size()) {
            std::size_t end = reading.field.find('\n', start);
            if (end == std::string::npos) end = reading.field.size();
            std::string_view line = std::string_view(reading.field).substr(start, end - start);
            start = end + 1;
            while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.remove_suffix(1);
            if (line.empty()) continue;
            out += (count++ ? ", " : "") + pf::jsonString(std::string(architectureName(line)));
        }
        out += "], \"identity\": {";
        for (std::size_t i = 0; i < reading.identity.size(); ++i)
            out += (i ? ", " : "") + pf::jsonString(reading.identity[i].first) + ": " +
                   pf::jsonString(reading.identity[i].second);
        out += "}";
    } else if (kind == "library") {
        // The file tool names the file first.
        std::string_view text = reading.field;
        if (text.size() > path.size() + 2 && text.substr(0, path.size()) == path && text.substr(path.size(), 2) == ": ")
            text.remove_prefix(path.size() + 2);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
        out += ", \"description\": " + pf::jsonString(std::string(text));
    }
    return out + "}\n";
}

std::string readableText(const std::string& given, const Reading& reading, const std::vector<std::string>& tags) {
    // With tags asked for, the header and those tags only.
    std::string out = tags.empty() ? summaryText(given, reading.summary) : "==> " + shown(given) + " <==\n\n";
    // A photo's rows follow its summary; a bundle's or a library's tree stands
    // apart from its summary, after the blank line.
    if (!reading.code || !tags.empty() || reading.rows.empty()) out.pop_back();
    for (const auto& row : reading.rows) {
        if (!tags.empty() && !rowChosen(row, tags)) continue;
        // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "[" + text at -O3.
        out += '[', out += oneLine(groupTitle(row.group)), out += "] ", out += oneLine(row.name), out += "  ";
        out += oneLine(row.readable), out += '\n';
    }
    return out + "\n";
}

}  // namespace vesk::cli
