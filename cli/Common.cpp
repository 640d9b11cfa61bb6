// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Common.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Utf8.h"

namespace vesk::cli {

namespace pf = vesk::platform;

std::string shown(const std::string& text) { return pf::utf8::escapeLine(text); }

bool isBundleFolder(const std::string& path, const pf::TypeService& types) {
    const auto type = types.typeOfFile(path);
    return type && types.conformsTo(*type, pf::kUTTypeBundle);
}

bool Output::write(const std::string& text) {
    if (failed_) return false;
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::ferror(stdout)) fail(errno);
    return !failed_;
}

bool Output::flush() {
    if (failed_) return false;
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) fail(errno);
    return !failed_;
}

void Output::fail(int err) {
    failed_ = true;
    std::fprintf(stderr, "vesk-info: write error on standard output: %s\n", std::strerror(err ? err : EIO));
}

}  // namespace vesk::cli
