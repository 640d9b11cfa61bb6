// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers the test files share: a private scratch folder, a scoped
// environment variable and a whole set of services for the objects under test.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/capability.h>
#include <sys/syscall.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/Services.h"
#include "platform/TypeService.h"
#include "platform/UserDefaults.h"

namespace vesk::test {

// A folder under the build's temporary area, removed with the object.
class ScratchDir {
public:
    ScratchDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vesk-test-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) std::abort();
        path_ = tmpl;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::string write(const std::string& name, const std::string& content) const {
        const auto p = path_ / name;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }

private:
    std::filesystem::path path_;
};

// Sets one environment variable, or removes it given nothing, and puts back
// what was there before, value or absence, when it goes: a test must leave
// the process as it found it, or the next test (or a repeat) starts elsewhere.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) previous_ = old;
        put(value);
    }
    ~ScopedEnv() { put(previous_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void put(const std::optional<std::string>& value) const {
        if (value)
            ::setenv(name_.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    std::string name_;
    std::optional<std::string> previous_;
};

// While it lives, file permissions bind this thread even when the tests run
// as root (as CI does): the thread's effective capabilities lose
// CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH, and get them back when it goes.
// Linux keeps capabilities per thread, so other threads are untouched.
class PermissionsBind {
public:
    PermissionsBind() {
#if defined(__linux__)
        if (::geteuid() != 0) return;
        if (::syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        dropped_ = ::syscall(SYS_capset, &header_, reduced) == 0;
#endif
    }
    ~PermissionsBind() {
#if defined(__linux__)
        if (dropped_) ::syscall(SYS_capset, &header_, saved_);
#endif
    }
    PermissionsBind(const PermissionsBind&) = delete;
    PermissionsBind& operator=(const PermissionsBind&) = delete;

private:
#if defined(__linux__)
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool dropped_ = false;
#endif
};

// Another process holding the lock on `folder`, stopped as a vesk-info
// stopped with Ctrl+Z would be; killed when the object goes.
struct StoppedLockHolder {
    explicit StoppedLockHolder(const std::string& folder) : pid(::fork()) {
        if (pid == 0) {  // only async-signal-safe calls: the test process may have threads
            const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::_exit(fd >= 0 && ::flock(fd, LOCK_EX) == 0 && ::raise(SIGSTOP) == 0 ? 0 : 1);
        }
        int status = 0;
        holding = pid > 0 && ::waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status);
    }
    ~StoppedLockHolder() { ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0); }
    const pid_t pid;
    bool holding = false;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The services one test hands the system: an in-memory store (or the one
// given), its own centre, a main queue (drained by hand unless the window's
// is given), a two-thread global queue, the file type service and a log that
// keeps its lines.
template <typename MainQueue>
class BasicTestServices {
public:
    explicit BasicTestServices(std::shared_ptr<platform::UserDefaults> store = std::make_shared<platform::MemoryUserDefaults>())
        : services_{std::move(store), center, mainQueue, globalQueue, types, log} {}
    BasicTestServices(const BasicTestServices&) = delete;
    BasicTestServices& operator=(const BasicTestServices&) = delete;

    const platform::Services& services() const { return services_; }
    operator const platform::Services&() const { return services_; }
    platform::UserDefaults& store() const { return *services_.store; }

    // The log from here on: what was logged before is dropped.
    platform::CaptureLogSink& startLog() {
        logSink.clear();
        return logSink;
    }
    // Runs the main queue's tasks on this thread, which plays the main thread.
    std::size_t drainMainQueue() { return mainQueue.drain(); }

    platform::NotificationCenter center;
    MainQueue mainQueue;
    platform::ThreadPoolQueue globalQueue{2};
    platform::FileTypeService types;
    platform::CaptureLogSink logSink;
    platform::Log log{logSink};

private:
    platform::Services services_;
};

using TestServices = BasicTestServices<platform::DrainedQueue>;

// A log that goes nowhere, for stores and tools whose lines a test ignores.
inline platform::Log quietLog() {
    static platform::DiscardLogSink sink;
    return platform::Log(sink);
}

}  // namespace vesk::test
