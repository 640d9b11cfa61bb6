// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Clean.h"

#include <sys/stat.h>

#include <cstdio>
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

}  // namespace

int cleanPaths(const Options& options, const pf::TypeService& types, const pf::Log& log) {
    const CleanLevel level = *cleanLevelNamed(options.clean);
    const auto shown = [](const std::string& text) { return pf::utf8::escapeLine(text); };
    if (!pf::isDirectory(options.output)) {
        std::fprintf(stderr, "vesk-info: %s: not a folder\n", shown(options.output).c_str());
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
        // Beside the original only when -o names its folder, and then under another name.
        const std::string name = item.path.substr(item.path.rfind('/') == std::string::npos ? 0 : item.path.rfind('/') + 1);
        const std::string destination = pf::appendingPathComponent(
            options.output, sameFolder(options.output, folderOf(item.path)) ? cleanCopyName(name) : name);
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
