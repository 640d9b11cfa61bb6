// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Formats.h"

#include <algorithm>

#include "platform/TypeService.h"

namespace vesk::platform {

namespace {

void addOnce(std::vector<std::string>& list, std::string item) {
    if (!item.empty() && std::find(list.begin(), list.end(), item) == list.end()) list.push_back(std::move(item));
}

}  // namespace

std::vector<std::string> formatTypes() {
    std::vector<std::string> out;
    for (const auto& format : kFormats) out.emplace_back(format.type);
    return out;
}

std::vector<std::string> formatExtensions() {
    const FileTypeService types;
    std::vector<std::string> out;
    for (const auto& format : kFormats)
        for (const auto& extension : knownFileExtensions())
            if (const auto type = typeForFileExtension(extension); type && types.conformsTo(*type, std::string(format.type)))
                addOnce(out, extension);
    return out;
}

std::vector<std::string> formatMediaTypes() {
    std::vector<std::string> out;
    for (const auto& format : kFormats) {
        std::string_view rest = format.mediaTypes;
        while (!rest.empty()) {
            const auto semicolon = std::min(rest.find(';'), rest.size());
            addOnce(out, std::string(rest.substr(0, semicolon)));
            rest.remove_prefix(std::min(semicolon + 1, rest.size()));
        }
    }
    return out;
}

std::string formatNames() {
    std::string out;
    const std::size_t n = std::size(kFormats);
    for (std::size_t i = 0; i < n; ++i) out += (i == 0 ? "" : i + 1 == n ? " and " : ", ") + std::string(kFormats[i].name);
    return out;
}

}  // namespace vesk::platform
