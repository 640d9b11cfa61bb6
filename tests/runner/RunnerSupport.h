// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers for tests that start real tools: small shell scripts written into a
// scratch folder, a tool that records the arguments it was given, and checks
// that no child or descriptor was left behind.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "../TestSupport.h"
#include "platform/Log.h"

namespace vesk::test {

// Writes an executable /bin/sh script and returns its path.
inline std::string writeTool(const ScratchDir& dir, const std::string& name, const std::string& body) {
    const auto path = dir.write(name, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0755);
    return path;
}

// Single-quotes a scratch path for a script we write ourselves; scratch paths
// come from mkdtemp and hold no quote.
inline std::string quoted(const std::string& path) { return "'" + path + "'"; }

// A tool that appends its argument count and each argument, zero-terminated,
// to `record`, then prints "recorded\n".
inline std::string writeRecordingTool(const ScratchDir& dir, const std::string& name, const std::string& record) {
    return writeTool(dir, name,
                     "{ printf '%d\\n' \"$#\"; for a in \"$@\"; do printf '%s\\0' \"$a\"; done; } >> " +
                         quoted(record) + "\nprintf 'recorded\\n'\n");
}

// The calls a recording tool saw, each the list of its arguments.
inline std::vector<std::vector<std::string>> readRecord(const std::string& record) {
    std::vector<std::vector<std::string>> calls;
    const std::string text = readFile(record);
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) break;
        const int count = std::stoi(text.substr(pos, eol - pos));
        pos = eol + 1;
        std::vector<std::string> args;
        for (int i = 0; i < count; ++i) {
            const std::size_t end = text.find('\0', pos);
            if (end == std::string::npos) return calls;
            args.push_back(text.substr(pos, end - pos));
            pos = end + 1;
        }
        calls.push_back(std::move(args));
    }
    return calls;
}

// The numbers of this process's open descriptors, sorted; the one used to
// list them is left out.
inline std::vector<int> openDescriptors() {
    std::vector<int> fds;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        const int own = ::dirfd(d);
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.' && std::atoi(e->d_name) != own) fds.push_back(std::atoi(e->d_name));
        ::closedir(d);
    }
    std::sort(fds.begin(), fds.end());
    return fds;
}

// True when this process has no child at all, running or zombie.
inline bool hasNoChildren() {
    int status = 0;
    return ::waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

// The reveal runs its opener on a thread of its own and logs
// "returnstring = ..." when the opener ends: waits until `count` such lines
// are in `log`, for at most `limit`. False when they did not come.
inline bool waitForReveals(const platform::CaptureLogSink& log, std::size_t count = 1,
                           std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto lines = log.lines();
        const auto seen = std::count_if(lines.begin(), lines.end(),
                                        [](const std::string& l) { return l.starts_with("returnstring = "); });
        if (static_cast<std::size_t>(seen) >= count) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Waits, for at most `limit`, until this process has no child left.
inline bool waitForNoChildren(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!hasNoChildren()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace vesk::test
