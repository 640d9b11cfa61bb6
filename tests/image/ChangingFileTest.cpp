// SPDX-License-Identifier: GPL-3.0-or-later
// Files another program truncates and writes again while they are read: the
// report shows what was read and never dies of SIGBUS.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "../TestSupport.h"
#include "ImageTestSupport.h"
#include "inspector/ImageReport.h"
#include "platform/FileMapping.h"

using namespace vesk;
using namespace vesk::platform;
using namespace vesk::test;

TEST(ChangingFile, AMappingOfAFileThatShrankReadsZerosAndSaysSo) {
    ScratchDir dir;
    const std::string path = dir.write("big", std::string(1 << 20, 'x'));
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const FileMapping map(fd.get(), 1 << 20, false);
    ASSERT_NE(map.data(), nullptr);
    ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
    EXPECT_EQ(map.data()[4095], 'x');
    EXPECT_EQ(map.data()[(1 << 20) - 1], 0);
    EXPECT_TRUE(map.shrank());
}

TEST(ChangingFile, ReportsOfAFileCutAndWrittenAgainWhileReadEndWithWhatWasRead) {
    const std::string jpeg = readFile(sample("Canon_DIGITAL_IXUS_400.jpg"));
    // A TIFF whose one IFD (ImageWidth 640) ends 8 MB: Exiv2 reads it in place.
    const std::string ifd{1, 0, 0, 1, 4, 0, 1, 0, 0, 0, char(0x80), 2, 0, 0, 0, 0, 0, 0};
    const std::string tiff = std::string{'I', 'I', 42, 0, char(0xEE), char(0xFF), char(0x7F), 0} +
                             std::string((8 << 20) - 26, '\0') + ifd;
    for (const std::string& whole : {tiff, jpeg}) {
        ScratchDir dir;
        const std::string path = dir.write("changing", whole);
        const FileDescriptor writer(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
        std::atomic<bool> stop{false};
        // The other program: the file cut after its first 4 KB, then its last 4 KB written again.
        std::thread other([&] {
            while (!stop)
                if (::ftruncate(writer.get(), 4096) != 0 || ::pwrite(writer.get(), whole.data() + whole.size() - 4096, 4096,
                                                                     static_cast<off_t>(whole.size() - 4096)) != 4096)
                    break;
        });
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(500)) {
            DiscardLogSink sink;
            const auto begun = std::chrono::steady_clock::now();
            readImageProperties(path, Log(sink));
            EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(1));
        }
        stop = true;
        other.join();
    }
}
