// SPDX-License-Identifier: GPL-3.0-or-later
// A private, read-only-to-the-file mapping of an open file whose shrinking
// under us is survived. Another program may truncate a file while it is read
// (a camera import, a sync tool, an editor saving); the kernel then answers a
// touch past the new end with SIGBUS. Inside a FileMapping that fault puts
// zeros in place of the lost pages and is remembered, so the reader sees a
// file that ends early and the report says the file changed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vesk::platform {

class FileMapping {
public:
    // The first `size` bytes of `fd` (the descriptor stays the caller's);
    // `writable` lets the caller change its private copy, never the file.
    // data() is null when the mapping could not be made or `size` is 0.
    FileMapping(int fd, std::size_t size, bool writable);
    ~FileMapping();
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;

    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    // True once a touch found the file shorter than the mapping.
    bool shrank() const;

    // At most this many mappings are guarded at once (one per reading
    // thread is what the readers use); past it a mapping is not made.
    static constexpr int kMaxGuarded = 256;

private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    int slot_ = -1;
};

}  // namespace vesk::platform
