// SPDX-License-Identifier: GPL-3.0-or-later
#include "inspector/ReportText.h"

#include <algorithm>
#include <cstdint>
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
    std::string out = "==> " + pf::utf8::escapeLine(path) + " <==\n";
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

namespace {

std::string base64(const std::string& bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 3; ++k)
            v = (v << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k) out += k <= n ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

}  // namespace

std::string jsonPathMembers(const std::string& path) {
    std::string out = "\"path\": " + pf::jsonString(path);
    if (!pf::utf8::isValid(path)) out += ", \"pathBytes\": \"" + base64(path) + "\"";
    return out;
}

std::string propertiesJson(const std::string& path, const pf::Log& log, const std::string& shownPath) {
    const auto props = readImageProperties(path, log);
    std::optional<pf::Value> value;
    if (props) value = pf::Value(*props);
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "{" + text at -O3.
    std::string out = "{";
    out += jsonPathMembers(shownPath);
    out += ", \"properties\": " + pf::toJson(value ? &*value : nullptr) + "}\n";
    return out;
}

std::string propertiesJson(const std::string& path, const pf::Log& log) { return propertiesJson(path, log, path); }

}  // namespace vesk
