// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the fuzz targets: inputs that the code under test reads from a
// file are written to one private scratch file per process.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include <memory>

#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/Services.h"
#include "platform/TypeService.h"
#include "platform/UserDefaults.h"

namespace vesk::fuzz {

// The process's private scratch folder.
inline const std::string& scratchDir() {
    static const std::string dir = [] {
        std::string tmpl = "/tmp/vesk-fuzz-XXXXXX";
        if (!::mkdtemp(tmpl.data())) std::abort();
        ::setenv("TMPDIR", tmpl.c_str(), 1);  // usercomment.xml lands here too
        return tmpl;
    }();
    return dir;
}

// Writes `data` to a scratch file named `name` (its folder must exist) and returns its path.
inline std::string scratchFile(const std::uint8_t* data, std::size_t size, const char* name) {
    const std::string path = scratchDir() + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) std::abort();
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return path;
}

// One set of services for the whole fuzzing process, logging nowhere; its
// main queue is drained by hand.
struct QuietServices {
    platform::DiscardLogSink sink;
    std::shared_ptr<platform::MemoryUserDefaults> store = std::make_shared<platform::MemoryUserDefaults>();
    platform::NotificationCenter center;
    platform::DrainedQueue mainQueue;
    platform::FileTypeService types;
    platform::Services services{store, center, mainQueue, mainQueue, types, platform::Log(sink)};
};

inline QuietServices& quietServices() {
    static QuietServices services;
    return services;
}

}  // namespace vesk::fuzz
