// Files another program truncates and writes again while they are read: the
// report shows what was read, says so in the log, and never dies of SIGBUS.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "../TestSupport.h"
#include "HostileImages.h"
#include "ImageTestSupport.h"
#include "inspector/ImageReport.h"
#include "platform/Bytes.h"
#include "platform/FileMapping.h"

using namespace vesk;
using namespace vesk::platform;
using namespace vesk::test;
using namespace vesk::test::hostile;

namespace {

constexpr std::uint64_t kSize = 8 << 20;

// A TIFF whose only IFD lies at the end of the file, so every read of it
// touches pages a truncation takes away.
std::string tiffIfd() {
    std::string b;
    le16(b, 2);
    le16(b, 0x0100), le16(b, 4), le32(b, 1), le32(b, 640);  // ImageWidth
    le16(b, 0x0101), le16(b, 4), le32(b, 1), le32(b, 480);  // ImageLength
    le32(b, 0);
    return b;
}
std::string tiffHead() {
    std::string b = "II*";
    b += '\0';
    le32(b, static_cast<std::uint32_t>(kSize - tiffIfd().size()));
    return b;
}
// A PNG with one large chunk before its text: Exiv2 reads it through the
// window, where the text lies past any early end.
std::string pngEnd() {
    std::string b(4, '\0');  // the large chunk's CRC
    be32(b, 9), b += "tEXtComment", b += '\0', b += "x", b += std::string(4, '\0');
    be32(b, 0), b += "IEND", b += std::string(4, '\0');
    return b;
}
std::string pngWithTextAtItsEnd() {
    std::string b = "\x89PNG\r\n\x1a\n";
    be32(b, 13), b += "IHDR", be32(b, 16), be32(b, 16), b += std::string{8, 2, 0, 0, 0}, b += std::string(4, '\0');
    be32(b, static_cast<std::uint32_t>(kSize - b.size() - 8 - pngEnd().size())), b += "zzzz";
    return b;
}

}  // namespace

TEST(ChangingFile, AMappingOfAFileThatShrankReadsZerosAndSaysSo) {
    ScratchDir dir;
    const std::string path = dir.write("big", std::string(1 << 20, 'x'));
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const FileMapping map(fd.get(), 1 << 20, false);
    ASSERT_NE(map.data(), nullptr);
    EXPECT_EQ(map.data()[4095], 'x');
    ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
    EXPECT_EQ(map.data()[4095], 'x');
    EXPECT_EQ(map.data()[512 << 10], 0);
    EXPECT_EQ(map.data()[(1 << 20) - 1], 0);
    EXPECT_TRUE(map.shrank());
}

TEST(ChangingFile, ReportsOfAFileCutAndWrittenAgainWhileReadEndWithWhatWasRead) {
    const std::string jpeg = readFile(sample("Canon_DIGITAL_IXUS_400.jpg"));
    struct Case {
        const char* name;
        std::string head, tail;
        std::uint64_t size;
    };
    const Case cases[] = {
        {"TIFF read in place, its IFD at the end", tiffHead(), tiffIfd(), kSize},
        {"PNG read through the window", pngWithTextAtItsEnd(), pngEnd(), kSize},
        {"JPEG read by pieces", jpeg.substr(0, jpeg.size() / 2), jpeg.substr(jpeg.size() / 2), jpeg.size()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string path = writeSparse(dir.path() / "changing", c.head, c.size);
        FileDescriptor writer(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
        ASSERT_EQ(::pwrite(writer.get(), c.tail.data(), c.tail.size(), static_cast<off_t>(c.size - c.tail.size())),
                  static_cast<ssize_t>(c.tail.size()));
        std::atomic<bool> stop{false};
        // The other program: cut the file after its head, then write its end again.
        std::thread other([&] {
            while (!stop.load()) {
                if (::ftruncate(writer.get(), static_cast<off_t>(c.head.size())) < 0) continue;
                if (::pwrite(writer.get(), c.tail.data(), c.tail.size(), static_cast<off_t>(c.size - c.tail.size())) < 0) continue;
            }
        });
        int reports = 0;
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(400)) {
            DiscardLogSink sink;
            const auto begun = std::chrono::steady_clock::now();
            readImageProperties(path, Log(sink));
            EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(1));
            ++reports;
        }
        stop = true;
        other.join();
        EXPECT_GT(reports, 0);
    }
}
