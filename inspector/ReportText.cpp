#include "inspector/ReportText.h"

#include <optional>

#include "inspector/ImageReport.h"
#include "inspector/InfoKeys.h"
#include "platform/Utf8.h"
#include "platform/Value.h"

namespace vesk {

namespace pf = vesk::platform;

std::string reportText(const std::string& path, const std::map<std::string, std::string>& store) {
    // Text from files and their names reaches a terminal: nothing in it may
    // drive the terminal.
    const auto shown = [](const std::string& text) { return pf::utf8::escapeControls(text); };
    std::string out = "==> " + shown(path) + " <==\n";
    for (const auto& field : kInfoFields) {
        auto it = store.find(field.key);
        if (it == store.end()) continue;
        const std::string value = shown(it->second);
        out += std::string(field.label) + ":\n" + value;
        if (!value.empty() && value.back() != '\n') out += '\n';
        out += '\n';
    }
    return out;
}

std::string propertiesJson(const std::string& path, const pf::Log& log) {
    const auto props = readImageProperties(path, log);
    std::optional<pf::Value> value;
    if (props) value = pf::Value(*props);
    return "{\"path\": " + pf::jsonString(path) + ", \"properties\": " + pf::toJson(value ? &*value : nullptr) +
           "}\n";
}

}  // namespace vesk
