#include "cli/Forms.h"

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

}  // namespace vesk::cli
