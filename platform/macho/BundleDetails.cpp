// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/macho/BundleDetails.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include "platform/FileSystem.h"
#include "platform/PropertyList.h"
#include "platform/Value.h"
#include "platform/macho/Bundle.h"

namespace vesk::platform::macho {
namespace {

constexpr std::string_view kUsageSuffix = "UsageDescription";

bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

bool isCodeName(const std::string& name) {
    for (const char* ext : {".framework", ".app", ".appex", ".xpc", ".bundle", ".plugin", ".dylib"})
        if (endsWith(name, ext) && name.size() > std::string_view(ext).size()) return true;
    return false;
}

// The entries of a folder that are code, sorted, links left out.
std::vector<std::string> codeIn(const std::string& folder, std::size_t room, bool& cut) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (!isCodeName(name)) continue;
        struct stat st{};
        if (::lstat(appendingPathComponent(folder, name).c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
        if (names.size() >= room) {
            cut = true;
            break;
        }
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Info.plist wherever the executable's lookup finds it.
std::optional<Dictionary> infoPlist(const std::string& path) {
    for (const char* where : {"Contents/Info.plist", "Info.plist", "Resources/Info.plist",
                              "Versions/Current/Resources/Info.plist", "Versions/A/Resources/Info.plist"}) {
        const std::string file = appendingPathComponent(path, where);
        struct stat st{};
        if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (auto info = readDictionaryWithContentsOfFile(file); info && *info) return std::move(**info);
    }
    return std::nullopt;
}

std::string valueText(const Value& value) {
    if (const auto* text = value.get<std::string>()) return *text;
    if (const auto* number = value.get<std::int64_t>()) return std::to_string(*number);
    return {};
}

Result<std::vector<SliceDetails>> executableOf(const std::string& path, const CodeBudget& budget = {}) {
    const auto bundle = Bundle::bundleWithPath(path);
    const auto executable = bundle ? bundle->executablePath() : std::nullopt;
    if (!executable) return Result<std::vector<SliceDetails>>::failure("no executable");
    return readCodeDetailsOfFile(*executable, budget);
}

}  // namespace

std::string usageName(const std::string& key) {
    static constexpr std::pair<std::string_view, std::string_view> kNames[] = {
        {"NSCamera", "camera"},           {"NSMicrophone", "microphone"},
        {"NSLocation", "location"},       {"NSContacts", "contacts"},
        {"NSCalendars", "calendars"},     {"NSReminders", "reminders"},
        {"NSPhotoLibrary", "photos"},     {"NSBluetooth", "Bluetooth"},
        {"NSAppleEvents", "control of other apps"}, {"NSSpeechRecognition", "speech recognition"},
        {"NSDesktopFolder", "Desktop folder"}, {"NSDocumentsFolder", "Documents folder"},
        {"NSDownloadsFolder", "Downloads folder"}, {"NSLocalNetwork", "local network"},
        {"NSHomeKit", "HomeKit"},         {"NSMotion", "motion"},
    };
    for (const auto& [prefix, name] : kNames)
        if (key.rfind(prefix, 0) == 0) return std::string(name);
    // Another key in words: "NSFaceIDUsageDescription" -> "face id".
    std::string_view core = key;
    if (core.rfind("NS", 0) == 0) core.remove_prefix(2);
    if (endsWith(core, kUsageSuffix)) core.remove_suffix(kUsageSuffix.size());
    std::string out;
    for (std::size_t i = 0; i < core.size(); ++i) {
        const auto c = static_cast<unsigned char>(core[i]);
        if (std::isupper(c) && i > 0 && std::islower(static_cast<unsigned char>(core[i - 1]))) out += ' ';
        out += static_cast<char>(std::tolower(c));
    }
    return out;
}

BundleDetails readBundleDetails(const std::string& path) {
    BundleDetails details;
    if (const auto info = infoPlist(path)) {
        for (const char* key : kBundleIdentityKeys)
            if (auto it = info->find(key); it != info->end())
                if (std::string text = valueText(it->second); !text.empty()) details.identity.emplace_back(key, text);
        for (const auto& [key, value] : *info)
            if (key.rfind("NS", 0) == 0 && endsWith(key, kUsageSuffix)) details.usage.emplace_back(key, valueText(value));
    }
    if (const auto bundle = Bundle::bundleWithPath(path))
        if (const auto executable = bundle->executablePath()) details.executableName = executable->substr(executable->rfind('/') + 1);
    details.executable = executableOf(path);

    for (const char* folder : {"Contents/Frameworks", "Contents/PlugIns", "Contents/Helpers", "Contents/XPCServices",
                               "Contents/Library/LoginItems", "Frameworks", "PlugIns"}) {
        const std::size_t room = kMaxNestedCode - details.nested.size();
        for (const auto& name : codeIn(appendingPathComponent(path, folder), room, details.nestedCut)) {
            NestedCode code;
            code.relativePath = std::string(folder) + "/" + name;
            const std::string full = appendingPathComponent(path, code.relativePath);
            code.slices = endsWith(name, ".dylib") ? readCodeDetailsOfFile(full, kNestedCodeBudget)
                                                   : executableOf(full, kNestedCodeBudget);
            details.nested.push_back(std::move(code));
        }
    }
    return details;
}

}  // namespace vesk::platform::macho
