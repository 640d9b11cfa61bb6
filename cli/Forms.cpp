#include "cli/Forms.h"

#include "cli/Common.h"
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

std::string readableText(const std::string& given, const Summary& summary, const std::vector<PropertyRow>& rows) {
    std::string out = summaryText(given, summary);
    out.pop_back();  // the blank line goes after the rows
    for (const auto& row : rows)
        out += "[" + oneLine(groupTitle(row.group)) + "] " + oneLine(row.name) + "  " + oneLine(row.readable) + "\n";
    return out + "\n";
}

}  // namespace vesk::cli
