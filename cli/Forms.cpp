#include "cli/Forms.h"

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

std::string groupTitle(const std::string& group) {
    if (group.empty()) return "Image";
    if (group.size() > 2 && group.front() == '{' && group.back() == '}') return group.substr(1, group.size() - 2);
    return group;
}

namespace {

// One tag a line: a line break inside a value is shown, not made.
std::string oneLine(const std::string& text) {
    std::string out = shown(text);
    for (std::size_t at = 0; (at = out.find('\n', at)) != std::string::npos; at += 2) out.replace(at, 1, "\\n");
    return out;
}

}  // namespace

std::string jsonObject(const std::string& given, const std::string& path, const Reading& reading) {
    std::string out = "{";
    out += jsonPathMembers(given);
    out += ", \"kind\": ";
    out += pf::jsonString(reading.kind);
    // summaryJson's members after its path: one list of labelled values, the
    // position, the reveals.
    const std::string summary = summaryJson("", reading.summary);
    const std::string prefix = "{" + jsonPathMembers("");
    out += summary.substr(prefix.size(), summary.size() - prefix.size() - 2);
    const std::string_view kind = reading.kind;
    if (kind == "image" && reading.properties) {
        const pf::Value value(*reading.properties);
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
        out += "]";
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

std::string readableText(const std::string& given, const Summary& summary, const std::vector<PropertyRow>& rows) {
    std::string out = summaryText(given, summary);
    out.pop_back();  // the blank line goes after the rows
    for (const auto& row : rows)
        out += "[" + oneLine(groupTitle(row.group)) + "] " + oneLine(row.name) + "  " + oneLine(row.readable) + "\n";
    return out + "\n";
}

}  // namespace vesk::cli
