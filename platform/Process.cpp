// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <memory>
#include <system_error>
#include <thread>

#include "platform/FileDescriptor.h"
#include "platform/Utf8.h"

extern char** environ;

namespace vesk::platform {

namespace {

constexpr std::size_t kMaxToolOutput = 512000;

// Moves a descriptor above the standard three, so that the child's dup2 onto
// standard output always makes a new descriptor (a dup2 onto itself would keep
// close-on-exec and leave the tool without an output).
bool moveAboveStandardStreams(int& fd) {
    if (fd > STDERR_FILENO) return true;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    fd = moved;
    return moved >= 0;
}

// Both ends close-on-exec from the start: a child that another thread starts
// meanwhile must inherit neither, or this pipe would never see its end.
bool openOutputPipe(FileDescriptor& readEnd, FileDescriptor& writeEnd) {
    int fds[2];
#if defined(__APPLE__)
    // No pipe2 here; POSIX_SPAWN_CLOEXEC_DEFAULT covers the children we start.
    if (::pipe(fds) != 0) return false;
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#else
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
#endif
    const bool ok0 = moveAboveStandardStreams(fds[0]);
    const bool ok1 = moveAboveStandardStreams(fds[1]);
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return ok0 && ok1;
}

// A spawn attribute that gives the tool default signal handling and an empty
// signal mask, whatever this process ignores or blocks: a tool that inherited
// an ignored SIGPIPE could write for ever once we stop reading.
class SpawnAttributes {
public:
    SpawnAttributes() {
        ok_ = ::posix_spawnattr_init(&attr_) == 0;
        if (!ok_) return;
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#if defined(__APPLE__)
        flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
        ok_ = ::posix_spawnattr_setsigmask(&attr_, &none) == 0 && ::posix_spawnattr_setsigdefault(&attr_, &all) == 0 &&
              ::posix_spawnattr_setflags(&attr_, flags) == 0;
    }
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&attr_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    bool ok() const { return ok_; }
    const posix_spawnattr_t* get() const { return &attr_; }

private:
    posix_spawnattr_t attr_;
    bool ok_ = false;
};

class SpawnFileActions {
public:
    // The tool's standard output becomes `writeEnd`; its standard input and
    // standard error stay ours.
    explicit SpawnFileActions(int writeEnd) {
        ok_ = ::posix_spawn_file_actions_init(&actions_) == 0;
        if (!ok_) return;
        ok_ = ::posix_spawn_file_actions_adddup2(&actions_, writeEnd, STDOUT_FILENO) == 0;
#if defined(__APPLE__)
        ok_ = ok_ && ::posix_spawn_file_actions_addinherit_np(&actions_, STDIN_FILENO) == 0 &&
              ::posix_spawn_file_actions_addinherit_np(&actions_, STDERR_FILENO) == 0;
#endif
    }
    ~SpawnFileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;
    bool ok() const { return ok_; }
    const posix_spawn_file_actions_t* get() const { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
    bool ok_ = false;
};

// Reads one attempt at the pipe: >0 bytes read, 0 at the end, -1 on a read error.
ssize_t readOnce(int fd, char* buffer, std::size_t capacity) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, capacity);
        if (n >= 0 || errno != EINTR) return n;
    }
}

// True once the child has ended and been reaped.
bool reapIfEnded(pid_t pid) {
    int status = 0;
    pid_t r;
    while ((r = ::waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    return r == pid || r < 0;
}

void waitForChild(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

// How often the reader looks whether the tool itself has ended.
constexpr int kChildCheckMillis = 100;

// Reads the tool's output into `buffer` until `capacity` bytes, the end of the
// output or a read error. The output also counts as ended once the tool has
// exited and what it left in the pipe is read: a program it started in the
// background (xdg-open starting a file manager) may hold the pipe open for as
// long as it runs, and the caller must not wait for that. Sets `reaped` when
// the child was waited for here.
std::size_t readOutput(int fd, pid_t pid, char* buffer, std::size_t capacity, bool& reaped) {
    std::size_t total = 0;
    while (total < capacity) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kChildCheckMillis);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0) {
            const ssize_t n = readOnce(fd, buffer + total, capacity - total);
            if (n <= 0) break;
            total += static_cast<std::size_t>(n);
            continue;
        }
        if (!reapIfEnded(pid)) continue;
        reaped = true;
        // Whatever the tool wrote before it ended is in the pipe already.
        if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) break;
        while (total < capacity) {
            const ssize_t n = readOnce(fd, buffer + total, capacity - total);
            if (n <= 0) break;
            total += static_cast<std::size_t>(n);
        }
        break;
    }
    return total;
}

}  // namespace

std::optional<std::string> runCommand(const std::vector<std::string>& command) {
    if (command.empty() || !command.front().starts_with('/')) return std::nullopt;
    // An argument holding a zero byte could only reach the tool cut short.
    for (const auto& arg : command)
        if (arg.find('\0') != std::string::npos) return std::nullopt;

    std::vector<std::string> args(command);
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    FileDescriptor readEnd, writeEnd;
    if (!openOutputPipe(readEnd, writeEnd)) return std::nullopt;
    const SpawnAttributes attributes;
    const SpawnFileActions actions(writeEnd.get());
    if (!attributes.ok() || !actions.ok()) return std::nullopt;

    pid_t pid = -1;
    if (::posix_spawn(&pid, argv.front(), actions.get(), attributes.get(), argv.data(), environ) != 0)
        return std::nullopt;
    // Only the child may hold the write end, so that its exit ends our reading.
    writeEnd.reset();

    // One zeroed buffer per call, one byte larger than the most ever read, so
    // that it always ends in a zero byte.
    const auto buffer = std::make_unique<char[]>(kMaxToolOutput + 1);
    bool reaped = false;
    const std::size_t count = readOutput(readEnd.get(), pid, buffer.get(), kMaxToolOutput, reaped);

    std::optional<std::string> text;
    if (count > 0) {
        const std::string_view bytes(buffer.get());
        if (utf8::isValid(bytes)) text = std::string(bytes);
    }
    // Closing first: a tool still writing gets SIGPIPE instead of blocking on a full pipe.
    readEnd.reset();
    if (!reaped) waitForChild(pid);
    return text;
}

bool runCommandInBackground(std::vector<std::string> command,
                            std::function<void(std::optional<std::string>)> done) {
    try {
        std::thread([command = std::move(command), done = std::move(done)] { done(runCommand(command)); })
            .detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

std::string asToolOperand(const std::string& path) { return path.starts_with('-') ? "./" + path : path; }

}  // namespace vesk::platform
