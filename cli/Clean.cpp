// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Clean.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>

#include "cli/Common.h"
#include "cli/Walk.h"
#include "inspector/CleanCopy.h"
#include "platform/FileSystem.h"
#include "platform/Utf8.h"

namespace vesk::cli {

namespace pf = platform;

namespace {

bool sameFolder(const std::string& a, const std::string& b) {
    struct stat sa{}, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

std::string folderOf(const std::string& path) {
    const std::string dir = pf::deletingLastPathComponent(path);
    return dir.empty() ? "." : dir;
}

// Where the copy of a file found under a walked folder goes: its place in
// that folder, under `output`/ROOT as `cp -r ROOT output` would put it, so
// that files of one name in different folders keep apart. A root without a
// name of its own ("." or "/") adds no level. Nothing for a path given as it is.
std::string mirroredFolder(const std::string& output, const Item& item) {
    const std::string name = pf::lastPathComponent(item.root);
    const std::string folder =
        name == "/" || name == "." || name == ".." ? output : pf::appendingPathComponent(output, name);
    const std::string from = folderOf(item.path);
    std::string inside = from.substr(std::min(item.root.size(), from.size()));
    while (!inside.empty() && inside.front() == '/') inside.erase(0, 1);
    return inside.empty() ? folder : pf::appendingPathComponent(folder, inside);
}

// The folder argument -r would walk that holds `output` below it, where the
// walk would meet the copies again and clean them once more.
std::optional<std::string> rootHolding(const Options& options) {
    if (!options.recursive) return std::nullopt;
    char* out = ::realpath(options.output.c_str(), nullptr);
    if (!out) return std::nullopt;
    const std::string output = out;
    std::free(out);
    for (const auto& arg : options.paths) {
        char* real = ::realpath(arg.c_str(), nullptr);
        if (!real) continue;
        std::string root = real;
        std::free(real);
        if (root != "/") root += '/';
        if (pf::isDirectory(arg) && output.size() > root.size() && output.compare(0, root.size(), root) == 0)
            return arg;
    }
    return std::nullopt;
}

// Makes `folder` and the folders above it up to `output`, which exists; an
// error for one that cannot be made or is not a folder.
std::optional<std::string> makeFolders(const std::string& output, const std::string& folder) {
    if (folder.size() <= output.size()) return std::nullopt;
    for (std::size_t at = output.size() + 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/') continue;
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return part + ": " + std::strerror(errno);
        if (!pf::isDirectory(part)) return part + ": not a folder";
    }
    return std::nullopt;
}

}  // namespace

int cleanPaths(const Options& options, const pf::TypeService& types, const pf::Log& log) {
    const CleanLevel level = *cleanLevelNamed(options.clean);
    const auto shown = [](const std::string& text) { return pf::utf8::escapeLine(text); };
    if (!pf::isDirectory(options.output)) {
        std::fprintf(stderr, "vesk-info: %s: not a folder\n", shown(options.output).c_str());
        return kExitFailure;
    }
    if (auto root = rootHolding(options)) {
        std::fprintf(stderr, "vesk-info: %s: inside %s, which -r walks: the copies would be walked again\n",
                     shown(options.output).c_str(), shown(*root).c_str());
        return kExitFailure;
    }
    Output out;
    int status = 0;
    std::set<std::string> written;
    walkPaths(types, options.recursive, options.hidden, options.paths, [&](Item item) {
        if (!item.problem.empty()) {
            if (item.failed || !options.quiet) std::fprintf(stderr, "vesk-info: %s\n", shown(item.problem).c_str());
            if (item.failed) status = kExitFailure;
            return true;
        }
        const auto fail = [&](const std::string& why) {
            std::fprintf(stderr, "vesk-info: %s: not cleaned: %s\n", shown(item.path).c_str(), shown(why).c_str());
            status = kExitFailure;
            return true;
        };
        if (pf::isDirectory(item.path)) return fail("a folder (with -r its photos are cleaned)");
        const std::string folder = item.root.empty() ? options.output : mirroredFolder(options.output, item);
        if (auto why = makeFolders(options.output, folder)) return fail("its folder could not be made: " + *why);
        // Beside the original only when -o names its folder, and then under another name.
        const std::string name = pf::lastPathComponent(item.path);
        const std::string destination =
            pf::appendingPathComponent(folder, sameFolder(folder, folderOf(item.path)) ? cleanCopyName(name) : name);
        if (!written.insert(destination).second) return fail("another file of this run was already written as " + destination);
        const CleanOutcome outcome = saveCleanCopy(item.path, destination, level, log);
        if (!outcome.saved) return fail(outcome.error);
        if (!out.write(shown(item.path) + " -> " + shown(destination) + ": " + removedText(outcome) + "\n"))
            return false;
        return true;
    });
    return out.finish(status);
}

}  // namespace vesk::cli
