// SPDX-License-Identifier: GPL-3.0-or-later
// File existence, tilde expansion, the per-user temporary directory and
// atomic writes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vesk::platform {

// fileExistsAtPath: a file or a folder; a symbolic link counts when its target exists.
bool fileExists(const std::string& path);
// fileExistsAtPath:isDirectory: with both answers yes.
bool isDirectory(const std::string& path);

// stringByExpandingTildeInPath: a leading "~" or "~/" becomes $HOME (or the
// password database's home); "~user" forms are left alone.
std::string expandTilde(const std::string& path);

// stringByDeletingLastPathComponent / pathExtension / lastPathComponent.
std::string deletingLastPathComponent(const std::string& path);
std::string pathExtension(const std::string& path);
// The last name, trailing slashes aside: "c.jpg" of "/a/b/c.jpg", "b" of "a/b/", "/" of "/".
std::string lastPathComponent(const std::string& path);
std::string appendingPathComponent(const std::string& dir, const std::string& name);

// The user's private temporary directory: the first of $TMPDIR,
// $XDG_RUNTIME_DIR (when absolute) and /tmp/vesk-UID (made 0700 when missing)
// that is a folder, not a link, owned by the user and writable by no one
// else (mode & 077 == 0); failing all three, a fresh folder made once per
// process under /tmp.
// A shared $TMPDIR or a /tmp/vesk-UID made by someone else is passed over,
// so the comment file always has a place the private writer accepts.
std::string temporaryDirectory();

// Where temporaryDirectory() looks after the environment; tests point it elsewhere.
struct TemporaryDirectoryPlaces {
    std::string userFolder;   // /tmp/vesk-UID
    std::string freshParent;  // /tmp
};
// The same choice over `places`. `fresh` keeps the fresh folder once made, to
// be used again while it stays private; the caller serialises calls on it.
std::string temporaryDirectory(const TemporaryDirectoryPlaces& places, std::string& fresh);

// Writes `bytes` to `path` so that `path` holds either its old content or all
// of the new: a temporary file in the same folder, renamed over the target (a
// symbolic link at the target is replaced, never followed).
struct AtomicWriteOptions {
    // Refuse a folder not owned by the user or writable by others.
    bool privateDirOnly = false;
    // Flush the data to disk before the rename, so that it also survives a
    // power loss. A scratch file does not need it; its data is left for the
    // kernel to write when it likes (after a power loss the file may be empty).
    bool durable = true;
    // Without `durable`: swap names with an existing file rather than rename
    // over it. The swap spares ext4's flush on rename; a plain rename keeps
    // that flush, which is what lets a file that must never read empty after a
    // power loss go without an fsync of its own on ext4.
    bool swapExisting = true;
};
// Returns an error description on failure.
std::optional<std::string> atomicWriteFile(const std::string& path, const std::string& bytes,
                                           AtomicWriteOptions options = {});

// A new file written whole under a temporary name in the folder of `path`,
// flushed, and given that name only by commit(): until then (and when the
// process dies first) no file under `path` is partly written. Dropped
// uncommitted, the temporary file is removed.
class StagedFile {
public:
    // Writes and flushes `bytes` with permissions `mode`; nothing (and the
    // reason in `error`) when the folder refuses, is full or is read-only.
    static std::optional<StagedFile> write(const std::string& path, const std::uint8_t* bytes, std::size_t size,
                                           unsigned mode, std::string& error);
    StagedFile(StagedFile&& other) noexcept : path_(std::move(other.path_)), temporary_(std::move(other.temporary_)) {
        other.temporary_.clear();
    }
    StagedFile& operator=(StagedFile&&) = delete;
    StagedFile(const StagedFile&) = delete;
    ~StagedFile() { discard(); }

    const std::string& temporaryPath() const { return temporary_; }
    // Renames the file into place (over a file of that name) and flushes the
    // folder; an error description on failure, when the file is removed.
    std::optional<std::string> commit();
    void discard();

private:
    StagedFile(std::string path, std::string temporary) : path_(std::move(path)), temporary_(std::move(temporary)) {}
    std::string path_, temporary_;
};

// Reads up to `size` bytes at `offset` of an open file, retrying interrupted
// reads; the count read, short at the end of the file or on an error.
std::size_t readAt(int fd, void* buffer, std::size_t size, std::uint64_t offset);

// Reads a regular file of at most `limit` bytes; nothing for anything else.
std::optional<std::string> readFileBounded(const std::string& path, std::size_t limit);

// Holds an exclusive lock on a folder while it lives, against other threads
// and other processes that lock the same folder. The lock is waited for at
// most `patience`: a holder that never lets go (a process stopped with
// Ctrl+Z, another user) must not hold the caller up. A folder that cannot be
// opened is not locked either; the caller's own write then reports the error.
class FolderLock {
public:
    FolderLock(const std::string& folder, std::chrono::milliseconds patience);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool locked() const { return fd_ >= 0; }
    // Someone else held the lock for all of `patience`.
    bool busy() const { return busy_; }

private:
    int fd_ = -1;
    bool busy_ = false;
};

// Makes a relative path absolute against the working directory.
std::string absolutePath(const std::string& path);
// The same against `cwd`, the working directory asked once (a relative path
// stays as it is when `cwd` is empty).
std::string absolutePath(const std::string& path, const std::string& cwd);
// The working directory; empty when it cannot be told.
std::string currentDirectory();

}  // namespace vesk::platform
