// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as a file that another thread cuts short and writes again while
// the image reader reads it, at a length and after a pause the input names:
// the reader must give what it read, never die of SIGBUS or read past what
// it was handed. Timing makes runs differ; a finding is kept all the same.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "FuzzSupport.h"
#include "platform/image/ImageSource.h"

using namespace vesk::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    // Large enough that Exiv2 reads it through its mapping: the input, then zeros to 1 MB.
    const std::uint32_t cut = (std::uint32_t(data[0]) << 8 | data[1]) * 16u;
    const unsigned pause = data[2];
    const unsigned rounds = 1 + data[3] % 8;
    const std::string path = vesk::fuzz::scratchFile(data + 4, size - 4, "changing");
    const int writer = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (writer < 0) return 0;
    (void)::ftruncate(writer, 1 << 20);
    std::atomic<bool> stop{false};
    std::thread other([&] {
        for (unsigned r = 0; r < rounds && !stop; ++r) {
            ::usleep(pause);
            (void)::ftruncate(writer, cut);
            (void)::pwrite(writer, data + 4, size - 4, 0);
            (void)::ftruncate(writer, 1 << 20);
        }
    });
    for (unsigned r = 0; r < rounds; ++r)
        if (auto source = ImageSource::createWithPath(path)) (void)source->copyPropertiesAtIndex(0);
    stop = true;
    other.join();
    ::close(writer);
    return 0;
}
