// SPDX-License-Identifier: GPL-3.0-or-later
// What the image tests share: fixture paths, a child process whose output is
// captured (no shell), and byte builders for hand-made TIFF structures.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Value.h"
#include "platform/image/ImageSource.h"

extern char** environ;

namespace vesk::test {

inline std::string sample(const std::string& name) { return std::string(VESK_SOURCE_DIR "/samples/") + name; }
inline std::string fixture(const std::string& name) { return std::string(VESK_IMAGE_FIXTURES "/") + name; }

// Standard output of the program `argv[0]` (looked up in PATH), or nothing
// when it could not be started or failed.
inline std::optional<std::string> captureOutput(const std::vector<std::string>& argv) {
    int fds[2];
    if (::pipe(fds) != 0) return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    std::string out;
    if (rc == 0) {
        char buf[65536];
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (rc != 0) return std::nullopt;
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status)) return std::nullopt;
    return out;
}

// Little-endian byte builders.
inline void put16(std::vector<std::uint8_t>& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void putBE16(std::vector<std::uint8_t>& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v));
}
inline void putBE32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int i = 3; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void putText(std::vector<std::uint8_t>& b, std::string_view s) { b.insert(b.end(), s.begin(), s.end()); }

inline std::string asString(const std::vector<std::uint8_t>& b) { return std::string(b.begin(), b.end()); }

// The image property dictionary of a file's first image, as the reader gives it.
inline std::optional<platform::Dictionary> properties(const std::string& path) {
    const auto source = platform::ImageSource::createWithPath(path);
    if (!source) return std::nullopt;
    return source->copyPropertiesAtIndex(0);
}

inline const platform::Dictionary* sub(const platform::Dictionary& d, const std::string& key) {
    auto it = d.find(key);
    return it == d.end() ? nullptr : it->second.get<platform::Dictionary>();
}

}  // namespace vesk::test
