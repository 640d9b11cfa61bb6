// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileSystem.h"

#include <fcntl.h>
#include <stdio.h>  // renameat2, RENAME_EXCHANGE
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/FileDescriptor.h"

namespace vesk::platform {
namespace {

std::string errnoText(const std::string& what, const std::string& path, int err) {
    return what + " \"" + path + "\": " + std::strerror(err);
}

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

// Refuses folders another user could look into or swap files in.
std::optional<std::string> checkPrivateDirectory(const std::string& dir) {
    struct stat st{};
    if (::lstat(dir.c_str(), &st) != 0) return errnoText("cannot inspect folder", dir, errno);
    if (!S_ISDIR(st.st_mode)) return "\"" + dir + "\" is not a folder";
    if (st.st_uid != ::geteuid()) return "folder \"" + dir + "\" is not owned by the user";
    // Closed to everyone else: a folder others may list or enter lets them
    // watch or hold what is written there.
    if (st.st_mode & (S_IRWXG | S_IRWXO)) return "folder \"" + dir + "\" is open to others";
    return std::nullopt;
}

// Puts `tmp` in place of an existing regular file at `path` by swapping the
// two names and removing the old file. On ext4, renaming over an existing
// file forces the new file's data out to disk, costing more than the whole
// write; a swap is just as atomic for readers and leaves writeback to the
// kernel. False when nothing was swapped, so the caller renames as usual.
bool swapIntoPlace(const std::string& tmp, const std::string& path) {
#if defined(__linux__) && defined(RENAME_EXCHANGE)
    struct stat st{};
    // Only a file is swapped: a folder (or anything else) at the path gets
    // rename's own refusal.
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) != 0) return false;
    if (::unlink(tmp.c_str()) != 0) {
        // The path changed kind between the check and the swap: undo it.
        ::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE);
        return false;
    }
    return true;
#else
    (void)tmp;
    (void)path;
    return false;
#endif
}

}  // namespace

bool fileExists(const std::string& path) {
    struct stat st{};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path) {
    struct stat st{};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string expandTilde(const std::string& path) {
    if (path == "~") return homeDirectory();
    if (path.rfind("~/", 0) == 0) {
        std::string home = homeDirectory();
        while (home.size() > 1 && home.back() == '/') home.pop_back();
        return home + path.substr(1);
    }
    return path;
}

std::string deletingLastPathComponent(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const auto slash = p.rfind('/');
    if (slash == std::string::npos) return "";
    if (slash == 0) return "/";
    return p.substr(0, slash);
}

std::string lastPathComponent(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const auto slash = p.rfind('/');
    return slash == std::string::npos || p.size() == 1 ? p : p.substr(slash + 1);
}

std::string pathExtension(const std::string& path) {
    const std::string last = lastPathComponent(path);
    const auto dot = last.rfind('.');
    // A leading dot names a hidden file, not an extension.
    if (dot == std::string::npos || dot == 0) return "";
    return last.substr(dot + 1);
}

std::string appendingPathComponent(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

std::string temporaryDirectory(const TemporaryDirectoryPlaces& places, std::string& fresh) {
    // The same test the private writer makes, so the folder chosen is one it accepts.
    const auto usable = [](const std::string& dir) { return !dir.empty() && !checkPrivateDirectory(dir); };
    if (const char* tmp = std::getenv("TMPDIR"); tmp && usable(tmp)) return tmp;
    // Relative runtime paths are invalid by the XDG rules.
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && run[0] == '/' && usable(run)) return run;
    // An existing folder is kept as it is: whoever made it, it is only checked.
    // Checked before the mkdir too: once made, it is there for every later report.
    if (usable(places.userFolder)) return places.userFolder;
    ::mkdir(places.userFolder.c_str(), 0700);
    if (usable(places.userFolder)) return places.userFolder;
    if (usable(fresh)) return fresh;
    // mkdtemp makes a new 0700 folder of its own, even in a shared parent.
    std::string tmpl = appendingPathComponent(places.freshParent,
                                              "vesk-" + std::to_string(::geteuid()) + "-XXXXXX");
    if (::mkdtemp(tmpl.data())) {
        fresh = tmpl;
        return fresh;
    }
    // Nowhere private: the writer refuses this one and the report says so.
    return places.userFolder;
}

std::string temporaryDirectory() {
    static std::mutex mutex;
    static std::string fresh;
    static const TemporaryDirectoryPlaces places{"/tmp/vesk-" + std::to_string(::geteuid()), "/tmp"};
    std::lock_guard lock(mutex);
    return temporaryDirectory(places, fresh);
}

std::optional<std::string> atomicWriteFile(const std::string& path, const std::string& bytes,
                                           AtomicWriteOptions options) {
    std::string dir = deletingLastPathComponent(path);
    if (dir.empty()) dir.push_back('.');  // not `= "."`: GCC 12 warns falsely on it here
    if (options.privateDirOnly) {
        if (auto refused = checkPrivateDirectory(dir)) return refused;
    }
    std::string tmpl = appendingPathComponent(dir, ".vesk-write-XXXXXX");
    FileDescriptor fd(::mkostemp(tmpl.data(), O_CLOEXEC));
    if (!fd) return errnoText("cannot create a file in", dir, errno);
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd.get(), p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = errno;
            fd.reset();
            ::unlink(tmpl.c_str());
            return errnoText("cannot write", tmpl, err);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fchmod(fd.get(), 0600) != 0 || (options.durable && ::fsync(fd.get()) != 0)) {
        const int err = errno;
        fd.reset();
        ::unlink(tmpl.c_str());
        return errnoText("cannot flush", tmpl, err);
    }
    fd.reset();
    if (!options.durable && options.swapExisting && swapIntoPlace(tmpl, path)) return std::nullopt;
    if (::rename(tmpl.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmpl.c_str());
        return errnoText("cannot replace", path, err);
    }
    return std::nullopt;
}

std::optional<StagedFile> StagedFile::write(const std::string& path, const std::uint8_t* bytes, std::size_t size,
                                           unsigned mode, std::string& error) {
    std::string dir = deletingLastPathComponent(path);
    if (dir.empty()) dir.push_back('.');
    std::string tmpl = appendingPathComponent(dir, ".vesk-copy-XXXXXX");
    FileDescriptor fd(::mkostemp(tmpl.data(), O_CLOEXEC));
    if (!fd) {
        error = errnoText("cannot create a file in", dir, errno);
        return std::nullopt;
    }
    StagedFile staged(path, tmpl);
    while (size > 0) {
        const ssize_t n = ::write(fd.get(), bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = errnoText("cannot write", tmpl, n < 0 ? errno : ENOSPC);
            return std::nullopt;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    if (::fchmod(fd.get(), static_cast<mode_t>(mode & 0777)) != 0 || ::fsync(fd.get()) != 0) {
        error = errnoText("cannot flush", tmpl, errno);
        return std::nullopt;
    }
    if (::close(fd.release()) != 0) {
        error = errnoText("cannot close", tmpl, errno);
        return std::nullopt;
    }
    return std::optional<StagedFile>(std::move(staged));
}

std::optional<std::string> StagedFile::commit() {
    if (::rename(temporary_.c_str(), path_.c_str()) != 0) {
        const int err = errno;
        discard();
        return errnoText("cannot rename into place", path_, err);
    }
    temporary_.clear();
    std::string dir = deletingLastPathComponent(path_);
    if (dir.empty()) dir.push_back('.');
    // The new name lasts only once the folder itself is on disk.
    const FileDescriptor folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder && ::fsync(folder.get()) != 0) return errnoText("cannot flush folder", dir, errno);
    return std::nullopt;
}

void StagedFile::discard() {
    // A file that cannot be removed is left as it is: its name starts with a
    // dot and says what it is, and no final name points at it.
    if (!temporary_.empty()) (void)::unlink(temporary_.c_str());
    temporary_.clear();
}

std::size_t readAt(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
    auto* out = static_cast<char*>(buffer);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, out + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

std::optional<std::string> readFileBounded(const std::string& path, std::size_t limit) {
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return std::nullopt;
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::size_t>(st.st_size) > limit)
        return std::nullopt;
    std::string out(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < out.size()) {
        const ssize_t n = ::read(fd.get(), out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    return out;
}

std::string currentDirectory() {
    std::string cwd(4096, '\0');
    while (!::getcwd(cwd.data(), cwd.size())) {
        if (errno != ERANGE) return "";
        cwd.resize(cwd.size() * 2);
    }
    cwd.resize(std::strlen(cwd.c_str()));
    return cwd;
}

std::string absolutePath(const std::string& path, const std::string& cwd) {
    if (path.empty() || path[0] == '/' || cwd.empty()) return path;
    return appendingPathComponent(cwd, path);
}

std::string absolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    return absolutePath(path, currentDirectory());
}

FolderLock::FolderLock(const std::string& folder, std::chrono::milliseconds patience) {
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return;
    // flock has no timeout of its own: tried without blocking, a few
    // milliseconds apart, until the patience is spent.
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            fd_ = fd.release();
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) return;
        if (std::chrono::steady_clock::now() >= deadline) {
            busy_ = errno == EWOULDBLOCK;
            return;
        }
        ::usleep(2000);
    }
}

// Closing the descriptor releases the lock.
FolderLock::~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace vesk::platform
