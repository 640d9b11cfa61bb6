// SPDX-License-Identifier: GPL-3.0-or-later
// Owns one open file descriptor and closes it when the owner goes, whichever
// way the scope ends.
#pragma once

#include <unistd.h>

#include <utility>

namespace vesk::platform {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) noexcept : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    explicit operator bool() const noexcept { return valid(); }
    // Closes the one held, if any, and takes `fd`.
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Gives the descriptor up without closing it.
    int release() noexcept { return std::exchange(fd_, -1); }

private:
    int fd_;
};

}  // namespace vesk::platform
