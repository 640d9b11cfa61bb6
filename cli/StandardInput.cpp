// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/StandardInput.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/FileDescriptor.h"
#include "platform/FileSystem.h"

namespace vesk::cli {

StandardInputFile::~StandardInputFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
}

std::optional<std::string> StandardInputFile::copy() {
    std::string name = platform::temporaryDirectory() + "/vesk-info-stdin-XXXXXX";
    // mkstemp: a fresh name, created 0600, never a file someone else put there.
    const platform::FileDescriptor out(::mkstemp(name.data()));
    if (!out) return std::string(std::strerror(errno)) + " (no temporary file for standard input)";
    path_ = name;
    std::vector<char> buffer(1 << 16);
    std::uint64_t total = 0;
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
        if (n == 0) return std::nullopt;
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::strerror(errno);
        }
        total += static_cast<std::uint64_t>(n);
        if (total > kMaxStandardInputBytes) return "standard input larger than 512 MB, not read";
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out.get(), buffer.data() + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) return std::string(std::strerror(errno)) + " (writing the copy of standard input)";
            done += w;
        }
    }
}

}  // namespace vesk::cli
