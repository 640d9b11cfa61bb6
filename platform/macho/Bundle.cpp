// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/macho/Bundle.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <cstdlib>
#include <memory>

#include "platform/FileDescriptor.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "platform/macho/MachOReader.h"

namespace vesk::platform {
namespace {

// Info.plist files are a few kilobytes; anything this large is not one.
constexpr std::size_t kMaxInfoPlistSize = 1 << 20;

std::optional<std::string> resolvedPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return std::nullopt;
    return std::string(resolved.get());
}

bool isInside(const std::string& resolved, const std::string& root) {
    const std::string prefix = root.back() == '/' ? root : root + "/";
    return resolved.size() > prefix.size() && resolved.compare(0, prefix.size(), prefix) == 0;
}

bool isDirectoryNoFollow(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A name that stays in the folder it is looked up in.
bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string lastComponentWithoutExtension(const std::string& path) {
    std::string name = lastPathComponent(path);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && dot != 0) name.erase(dot);
    return name;
}

}  // namespace

std::optional<Bundle> Bundle::bundleWithPath(const std::string& path) {
    if (!isDirectory(path)) return std::nullopt;
    auto root = resolvedPath(path);
    if (!root) return std::nullopt;
    return Bundle(path, std::move(*root));
}

std::optional<std::string> Bundle::executablePath() const {
    DiscardLogSink quiet;
    return executablePath(Log(quiet));
}

std::optional<std::string> Bundle::executableIn(const std::string& folder, const std::string& infoPlist,
                                               const Log& log) const {
    std::optional<std::string> name;
    if (auto plistPath = resolvedPath(infoPlist); plistPath && isInside(*plistPath, root_)) {
        if (auto bytes = readFileBounded(*plistPath, kMaxInfoPlistSize)) {
            const auto plist = readPropertyList(*bytes);
            if (!plist) log.nslog("budget cut %@: %@", {*plistPath, plist.error()});
            if (plist && *plist) {
                if (const auto* info = (*plist)->get<Dictionary>()) {
                    if (auto it = info->find("CFBundleExecutable"); it != info->end()) {
                        if (const auto* text = it->second.get<std::string>()) name = *text;
                    }
                }
            }
        }
    }
    // An Info.plist that names no executable leaves the bundle's own name.
    if (!name) name = lastComponentWithoutExtension(path_);
    if (!isPlainFileName(*name)) return std::nullopt;

    auto executable = resolvedPath(appendingPathComponent(folder, *name));
    if (!executable || !isInside(*executable, root_)) return std::nullopt;
    struct stat st{};
    if (::stat(executable->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return executable;
}

std::optional<std::string> Bundle::executablePath(const Log& log) const {
    const std::string contents = appendingPathComponent(root_, "Contents");
    // A link named Contents could lead anywhere; only a real folder makes a
    // deep bundle.
    if (isDirectoryNoFollow(contents))
        return executableIn(appendingPathComponent(contents, "MacOS"), appendingPathComponent(contents, "Info.plist"),
                            log);
    // A flat bundle, or a framework: its executable and Resources/Info.plist
    // are links into Versions/Current, itself a link to Versions/A. A copy
    // that lost the links still has the versioned folders.
    for (const std::string& folder :
         {root_, appendingPathComponent(root_, "Versions/Current"), appendingPathComponent(root_, "Versions/A")}) {
        std::string info = appendingPathComponent(folder, "Info.plist");
        if (const std::string resources = appendingPathComponent(folder, "Resources/Info.plist");
            !fileExists(info) && fileExists(resources))
            info = resources;
        if (auto found = executableIn(folder, info, log)) return found;
    }
    return std::nullopt;
}

std::optional<std::vector<std::int32_t>> Bundle::executableArchitectures(const Log& log) const {
    auto result = architecturesAt(path_, log);
    if (!result) return std::nullopt;
    return std::move(*result);
}

Result<std::vector<std::int32_t>, BundleError> Bundle::architecturesAt(const std::string& path, const Log& log) {
    using R = Result<std::vector<std::int32_t>, BundleError>;
    const auto bundle = bundleWithPath(path);
    if (!bundle) return R::failure({BundleError::Kind::NotAFolder, {}});
    if (const FileDescriptor folder(::open(bundle->root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); !folder)
        return R::failure({BundleError::Kind::Unreadable, std::strerror(errno)});
    const auto executable = bundle->executablePath(log);
    if (!executable) return R::failure({BundleError::Kind::NoExecutable, {}});
    auto source = macho::FileSource::open(*executable);
    if (!source) return R::failure({BundleError::Kind::NotMachO, source.error()});
    const auto result = macho::parse(*source);
    if (!result) {
        // The field stays empty; the log keeps the reason.
        log.nslog("malformed executable %@: %@", {*executable, result.error()});
        const bool machO = macho::identify(*source).has_value();
        return R::failure({machO ? BundleError::Kind::Malformed : BundleError::Kind::NotMachO, result.error()});
    }
    return R::success(macho::cpuTypes(result.value()));
}

}  // namespace vesk::platform
