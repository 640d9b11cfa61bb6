// SPDX-License-Identifier: GPL-3.0-or-later
// The window for real on an X display (run under xvfb-run). The real
// xdg-open, on a desktop with no file manager and no browser, fails; the
// window takes no notice and goes on working. With a file manager that stays
// in the foreground (xdg-open then waits for it), the window keeps serving.
// A file rewritten under the window never stalls it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

#include "../runner/RunnerSupport.h"
#include "DesktopSupport.h"
#include "desktop/ApplicationShell.h"
#include "desktop/DetailsPane.h"
#include "desktop/DoubleClickButton.h"
#include "desktop/MainWindow.h"
#include "inspector/InfoKeys.h"
#include "platform/Log.h"

using namespace vesk;
using namespace vesk::desktop;
using vesk::test::ScratchDir;

namespace {

ScratchDir& scratch() {
    static ScratchDir dir;
    return dir;
}

void doubleClick(QWidget* target) {
    QTest::lastMouseTimestamp += 10 * QTest::mouseDoubleClickInterval;
    QTest::mouseDClick(target->window()->windowHandle(), Qt::LeftButton, {},
                       target->mapTo(target->window(), target->rect().center()));
}

// The window up on X, showing a copy of a sample photo in `folder`.
struct ShownPhoto {
    explicit ShownPhoto(const std::filesystem::path& folder) : photo((folder / "photo.jpg").string()) {
        std::filesystem::create_directories(folder);
        std::filesystem::copy_file(std::string(VESK_SOURCE_DIR) + "/samples/Canon_DIGITAL_IXUS_400.jpg", photo,
                                   std::filesystem::copy_options::overwrite_existing);
        shell.launch(QStringList{QString::fromStdString(photo)});
    }
    bool shown() {
        return QTest::qWaitForWindowExposed(&shell.window()) &&
               QTest::qWaitFor([&] { return store->get(prefCurFilePath) == photo; }, 10000);
    }

    const std::string photo;
    std::shared_ptr<platform::MemoryUserDefaults> store = std::make_shared<platform::MemoryUserDefaults>();
    vesk::test::DesktopServices services{store};
    platform::CaptureLogSink& log = services.startLog();
    ApplicationShell shell{services};
};

}  // namespace

TEST(RevealOnX, WithNoFileManagerXdgOpenFailsQuietlyAndTheWindowCarriesOn) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    ASSERT_TRUE(std::filesystem::exists(ViewController::defaultOpenToolPath()));
    ShownPhoto shown(scratch().path() / "photos");
    ASSERT_TRUE(shown.shown());
    const std::string& photo = shown.photo;
    auto& store = shown.store;
    auto& log = shown.log;
    auto& shell = shown.shell;
    EXPECT_EQ(shell.viewController().ibDoubleClickButton(), &shell.window().doubleClickButton()->button());

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        log.clear();
        const auto start = std::chrono::steady_clock::now();
        doubleClick(shell.window().doubleClickButton());
        // xdg-open tries its fallbacks and gives up within seconds.
        ASSERT_TRUE(QTest::qWaitFor([&] { return vesk::test::waitForReveals(log, 1, std::chrono::milliseconds(0)); },
                                    30000));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
        const auto lines = log.lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "Double click!"), 1);
        // It printed nothing on standard output, which is all the window hears of it.
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "returnstring = (null)"), 1);

        // Still running: the event loop turns, the window is up, nothing moved.
        bool turned = false;
        QTimer::singleShot(10, [&] { turned = true; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return turned; }, 5000));
        EXPECT_TRUE(shell.window().isVisible());
        EXPECT_EQ(store->get(prefCurFilePath), photo);
    }
    // And xdg-open left no child behind.
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

// A file manager that stays in the foreground for 5 s, the desktop's choice
// for folders: xdg-open, finding no desktop session, runs it and waits.
TEST(RevealOnX, WithAFileManagerThatBlocksTheWindowStaysResponsive) {
    const auto home = scratch().path();
    const std::string record = (home / "fm-record").string();
    // The folder outlives a round (the session's settings point into it).
    std::filesystem::remove(record);
    const std::string fm = vesk::test::writeTool(scratch(), "standin-file-manager",
                                                 "printf '%s\\n' \"$1\" > " + vesk::test::quoted(record) +
                                                     "\nsleep 5\necho closed >> " + vesk::test::quoted(record) + "\n");
    const std::string entry = scratch().write("data/applications/standin-fm.desktop",
                                              "[Desktop Entry]\nType=Application\nName=Stand-in file manager\nExec=" +
                                                  fm + " %U\nMimeType=inode/directory;\n");
    const std::string defaults =
        scratch().write("config/mimeapps.list", "[Default Applications]\ninode/directory=standin-fm.desktop\n");

    ShownPhoto shown(home / "album");
    ASSERT_TRUE(shown.shown());
    auto& log = shown.log;
    auto& shell = shown.shell;
    log.clear();

    const auto start = std::chrono::steady_clock::now();
    doubleClick(shell.window().doubleClickButton());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    bool fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return fired; }, 1000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));

    // The file manager is up with the photo's folder, and the window serves on.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !vesk::test::readFile(record).empty(); }, 10000));
    EXPECT_EQ(vesk::test::readFile(record), (home / "album").string() + "\n");
    for (int i = 0; i < 3; ++i) {
        const auto asked = std::chrono::steady_clock::now();
        bool turned = false;
        QTimer::singleShot(10, [&] { turned = true; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return turned; }, 1000));
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(100));
        QTest::qWait(300);
    }
    EXPECT_FALSE(vesk::test::waitForReveals(log, 1, std::chrono::milliseconds(0)));

    // The log line comes when xdg-open returns, after the file manager closed.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return vesk::test::waitForReveals(log, 1, std::chrono::milliseconds(0)); }, 30000));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4900));
    EXPECT_EQ(vesk::test::readFile(record), (home / "album").string() + "\nclosed\n");
    const auto lines = log.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "returnstring = (null)"), 1);
    EXPECT_TRUE(vesk::test::waitForNoChildren());

    std::filesystem::remove(entry);
    std::filesystem::remove(defaults);
}

// Another program cuts the file on show short and writes it again, 1,000
// times, while the window, in the details view with its preview, reports it
// at each change: the window stays alive and its event loop never stalls
// for a second.
TEST(OnX, AFileCutAndWrittenAgainWhileShownLeavesTheWindowResponsive) {
    ShownPhoto shown(scratch().path() / "rewritten");
    ASSERT_TRUE(shown.shown());
    shown.shell.details().detailsAction()->trigger();
    // A TIFF whose one IFD lies at the end of 8 MB: each report touches what a cut takes away.
    const std::uint32_t size = 8 << 20;
    const std::string head{'I', 'I', 42, 0, char((size - 18) & 0xFF), char((size - 18) >> 8 & 0xFF),
                           char((size - 18) >> 16 & 0xFF), char((size - 18) >> 24)};
    const std::string ifd{1, 0, 0, 1, 4, 0, 1, 0, 0, 0, char(0x80), 2, 0, 0, 0, 0, 0, 0};
    const int fd = ::open(shown.photo.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::atomic<bool> done{false};
    std::thread other([&] {
        for (int i = 0; i < 1000; ++i) {
            if (::ftruncate(fd, 4096) != 0) break;
            if (::pwrite(fd, head.data(), head.size(), 0) < 0) continue;
            if (::pwrite(fd, ifd.data(), ifd.size(), size - ifd.size()) < 0) continue;
            ::usleep(1000);
        }
        done = true;
    });
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    while (!done) {
        QTest::qWait(10);
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    }
    other.join();
    ::close(fd);
    EXPECT_LT(longest, 1000);
    // Still answering: the last state of the file is reported.
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown.shell.details().statusText().contains(QStringLiteral("changed on disk")); }, 3000));
    // Reports still queued go now, while the window and its services are there.
    QCoreApplication::removePostedEvents(nullptr);
}

int main(int argc, char** argv) {
    const std::string home = scratch().path().string();
    // A desktop with no file manager and no browser: no desktop environment
    // to ask, no application entries for folders, and a browser that fails.
    for (const char* name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
                             "MATE_DESKTOP_SESSION_ID", "XDG_SESSION_DESKTOP"})
        qunsetenv(name);
    qputenv("BROWSER", "false");
    qputenv("HOME", home.c_str());
    qputenv("XDG_DATA_HOME", (home + "/data").c_str());
    qputenv("XDG_DATA_DIRS", (home + "/nothing").c_str());
    qputenv("XDG_CONFIG_HOME", (home + "/config").c_str());
    qputenv("XDG_RUNTIME_DIR", home.c_str());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
