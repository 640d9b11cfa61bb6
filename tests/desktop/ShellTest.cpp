// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileOpenEvent>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <tuple>

#include "DesktopSupport.h"
#include "app/AppDelegate.h"
#include "desktop/ApplicationShell.h"
#include "desktop/DropArea.h"
#include "desktop/MainWindow.h"
#include "inspector/InfoKeys.h"
#include "platform/Formats.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

using namespace vesk;
using namespace vesk::desktop;
using vesk::test::ScratchDir;

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

const std::string kSample = std::string(VESK_SOURCE_DIR) + "/samples/Canon_DIGITAL_IXUS_400.jpg";

// Records every file-add event posted while it lives.
struct FileAddEvents {
    explicit FileAddEvents(platform::NotificationCenter& events) : center(events) {
        center.addObserver(this, platform::kAddFromFileNotification,
                           [this](const platform::Notification& n) { objects.push_back(n.object); });
    }
    ~FileAddEvents() { center.removeObserver(this); }
    platform::NotificationCenter& center;
    std::vector<std::optional<platform::Value>> objects;
};

platform::Value pathList(std::initializer_list<std::string> paths) {
    platform::Array list;
    for (const auto& p : paths) list.emplace_back(p);
    return platform::Value(std::move(list));
}

// Runs the event loop until it is ended, or fails after `limitMs`.
int execWithLimit(int limitMs) {
    bool timedOut = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        timedOut = true;
        QCoreApplication::exit(99);
    });
    guard.start(limitMs);
    const int rc = QApplication::exec();
    EXPECT_FALSE(timedOut) << "the event loop did not end";
    return rc;
}

}  // namespace

TEST(Launch, StartsWithEmptyFieldsWhateverTheLastRunLeftAndTheVersionAsTitle) {
    ScratchDir dir;
    const std::string storePath = dir.file("defaults.plist");
    {
        platform::FileUserDefaults lastRun(storePath, vesk::test::quietLog());
        for (const char* key : kReportKeys) lastRun.set(key, std::string("left by the last run in ") + key);
        lastRun.set(prefWindowTitle, "Old title");
    }
    auto store = std::make_shared<platform::FileUserDefaults>(storePath, vesk::test::quietLog());
    vesk::test::DesktopServices s(store);
    ASSERT_TRUE(store->get(prefTextViewString1));  // the file really held them

    auto& log = s.startLog();
    ApplicationShell shell(s);
    shell.launch();

    for (const char* key : kReportKeys) {
        EXPECT_FALSE(store->get(key)) << key;
        if (auto* field = shell.window().infoField(QString::fromLatin1(key))) {
            EXPECT_TRUE(field->toPlainText().isEmpty()) << key;
        }
    }
    EXPECT_TRUE(shell.window().currentFileField()->text().isEmpty());
    EXPECT_EQ(store->get(prefWindowTitle), getAppVersionString());
    EXPECT_EQ(shell.window().windowTitle(), q(getAppVersionString()));
    EXPECT_TRUE(shell.window().isVisible());
    // Attached to the services at launch: it takes drags from then on.
    EXPECT_TRUE(shell.window().dropArea()->acceptDrops());

    // The window was loaded before launching finished.
    const auto lines = log.lines();
    const auto at = [&](const std::string& text) {
        return std::find_if(lines.begin(), lines.end(),
                            [&](const std::string& l) { return l.find(text) != std::string::npos; });
    };
    ASSERT_NE(at("self.view.window.firstResponder = "), lines.end());
    ASSERT_NE(at("=applicationDidFinishLaunching:..."), lines.end());
    EXPECT_LT(at("self.view.window.firstResponder = "), at("=applicationDidFinishLaunching:..."));

    // Cleared in the file too, so the next run starts clean as well.
    platform::FileUserDefaults reread(storePath, vesk::test::quietLog());
    EXPECT_FALSE(reread.get(prefTextViewString6));
    EXPECT_EQ(reread.get(prefWindowTitle), getAppVersionString());
}

TEST(Launch, TwoFilesPostOneEventAfterLaunchAndTheFirstIsShown) {
    ScratchDir dir;
    std::filesystem::copy_file(kSample, dir.file("a.jpg"));
    std::filesystem::copy_file(kSample, dir.file("b.jpg"));
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(q(dir.path().string()));
    const QStringList files = absoluteFilePaths(QStringList{"a.jpg", "b.jpg"});
    QDir::setCurrent(oldCwd);

    auto store = std::make_shared<platform::MemoryUserDefaults>();

    vesk::test::DesktopServices s(store);
    FileAddEvents events(s.center);
    ApplicationShell shell(s);
    shell.launch(files);
    EXPECT_TRUE(events.objects.empty());  // documents come after launch, not during it

    ASSERT_TRUE(QTest::qWaitFor([&] { return store->get(prefCurFilePath).has_value(); }, 5000));
    EXPECT_EQ(store->get(prefCurFilePath), dir.file("a.jpg"));
    EXPECT_EQ(shell.window().currentFileField()->text(), q(dir.file("a.jpg")));
    ASSERT_EQ(events.objects.size(), 1u);
    EXPECT_EQ(events.objects[0], pathList({dir.file("a.jpg"), dir.file("b.jpg")}));
}

TEST(Launch, DocumentsHandedOverTogetherArriveAsOneList) {
    auto store = std::make_shared<platform::MemoryUserDefaults>();
    vesk::test::DesktopServices s(store);
    FileAddEvents events(s.center);
    ApplicationShell shell(s);
    // The desktop may hand documents over one by one, some before launch ends.
    QFileOpenEvent first(QStringLiteral("/nowhere/one.jpg"));
    QCoreApplication::sendEvent(qApp, &first);
    shell.launch();
    QFileOpenEvent second(QUrl::fromLocalFile(QStringLiteral("/nowhere/two.tiff")));
    QCoreApplication::sendEvent(qApp, &second);
    EXPECT_TRUE(events.objects.empty());

    QTest::qWait(50);
    ASSERT_EQ(events.objects.size(), 1u);
    EXPECT_EQ(events.objects[0], pathList({"/nowhere/one.jpg", "/nowhere/two.tiff"}));

    // A later hand-over is a new list.
    shell.openFiles({QStringLiteral("/nowhere/three.jpg")});
    QTest::qWait(50);
    ASSERT_EQ(events.objects.size(), 2u);
    EXPECT_EQ(events.objects[1], pathList({"/nowhere/three.jpg"}));
    EXPECT_FALSE(store->get(prefCurFilePath));  // none of them exists
}

TEST(Launch, FileArgumentsBecomeAbsolutePaths) {
    const QString cwd = QDir::currentPath();
    EXPECT_EQ(absoluteFilePaths(QStringList{"x.jpg", "/abs/y.tif", "file:///tmp/z%20z.jpg", "", "dir/../w.jpg"}),
              (QStringList{cwd + "/x.jpg", "/abs/y.tif", "/tmp/z z.jpg", cwd + "/w.jpg"}));
}

TEST(Quit, ClosingTheWindowEndsTheEventLoop) {
    auto store = std::make_shared<platform::MemoryUserDefaults>();
    vesk::test::DesktopServices s(store);
    ApplicationShell shell(s);
    shell.launch();
    QSignalSpy aboutToQuit(qApp, &QCoreApplication::aboutToQuit);
    QTimer::singleShot(0, &shell.window(), [&] { shell.window().close(); });
    EXPECT_EQ(execWithLimit(10000), 0);
    EXPECT_EQ(aboutToQuit.count(), 1);
}

TEST(Quit, TheQuitCommandEndsTheEventLoop) {
    auto store = std::make_shared<platform::MemoryUserDefaults>();
    vesk::test::DesktopServices s(store);
    ApplicationShell shell(s);
    shell.launch();
    QTimer::singleShot(0, &shell.window(), [&] { shell.window().quitAction()->trigger(); });
    EXPECT_EQ(execWithLimit(10000), 0);
}

// The real program: arguments, the persistent store, the event loop, quitting.
TEST(VeskProgram, ShowsTheFirstOfTwoFilesAndSavesAScreenshot) {
    ScratchDir dir;
    std::filesystem::copy_file(kSample, dir.file("a.jpg"));
    std::filesystem::copy_file(kSample, dir.file("b.jpg"));
    QProcess vesk;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("VESK_DEFAULTS_FILE", q(dir.file("store.plist")));
    vesk.setProcessEnvironment(env);
    vesk.setWorkingDirectory(q(dir.path().string()));
    vesk.start(VESK_BIN, {"--verbose", "--screenshot", "shot.png", "a.jpg", "b.jpg"});
    ASSERT_TRUE(vesk.waitForFinished(30000));
    EXPECT_EQ(vesk.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(vesk.exitCode(), 0);
    const std::string log = vesk.readAllStandardError().toStdString();

    platform::FileUserDefaults store(dir.file("store.plist"), vesk::test::quietLog());
    EXPECT_EQ(store.get(prefCurFilePath), dir.file("a.jpg"));
    EXPECT_EQ(store.get(prefWindowTitle), getAppVersionString());
    const std::string posted = "application:openFiles:=" + platform::describe(pathList({dir.file("a.jpg"), dir.file("b.jpg")}));
    EXPECT_NE(log.find(posted), std::string::npos) << log;

    const QImage shot(q(dir.file("shot.png")));
    ASSERT_FALSE(shot.isNull());
    // The window's own size, as far as the offscreen screen (800 x 800) has room.
    EXPECT_EQ(shot.size(), QSize(1000, 760).boundedTo(QGuiApplication::primaryScreen()->availableGeometry().size()));
}

// A desktop session keeps standard error in its journal: the log of a photo
// (its name, its GPS position) goes there only when asked for.
TEST(VeskProgram, WritesTheLogToStandardErrorOnlyWhenAskedFor) {
    const QString photo = QStringLiteral(VESK_SOURCE_DIR "/samples/Nikon_COOLPIX_P6000_GPS.jpg");
    // --verbose, VESK_VERBOSE ("-" for unset), and whether the photo is in the log.
    for (const auto& [option, variable, logged] : {std::tuple{"", "-", false}, {"", "0", false}, {"", "", false},
                                                   {"--verbose", "-", true}, {"", "1", true}}) {
        ScratchDir dir;
        QProcess vesk;
        auto env = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] : {std::pair{"QT_QPA_PLATFORM", std::string("offscreen")},
                                          {"VESK_DEFAULTS_FILE", dir.file("s.plist")}, {"VESK_WINDOW_STATE_FILE", dir.file("w.ini")}})
            env.insert(name, q(value));
        env.remove("VESK_VERBOSE");
        if (std::string(variable) != "-") env.insert("VESK_VERBOSE", variable);
        vesk.setProcessEnvironment(env);
        vesk.start(VESK_BIN, QStringList{option, "--screenshot", q(dir.file("shot.png")), photo}.filter(QRegularExpression(".")));
        ASSERT_TRUE(vesk.waitForFinished(30000));
        const std::string err = vesk.readAllStandardError().toStdString();
        for (const char* word : {"Nikon_COOLPIX_P6000_GPS", "Latitude", "COOLPIX"})
            EXPECT_EQ(err.find(word) != std::string::npos, logged) << option << " VESK_VERBOSE=" << variable << ": " << err;
    }
}

TEST(VeskProgram, InstallsBothProgramsTheDesktopEntryAndTheIcon) {
    ScratchDir dir;
    QProcess install;
    install.start(VESK_CMAKE_COMMAND, {"--install", VESK_BINARY_DIR, "--prefix", q(dir.path().string())});
    ASSERT_TRUE(install.waitForFinished(60000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();

    for (const char* file : {"bin/vesk", "bin/vesk-info"})
        EXPECT_TRUE(QFileInfo(q((dir.path() / file).string())).isExecutable()) << file;
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "share/icons/hicolor/scalable/apps/vesk.svg"));

    const std::string entry = vesk::test::readFile((dir.path() / "share/applications/vesk.desktop").string());
    ASSERT_FALSE(entry.empty());
    EXPECT_NE(entry.find("\nExec=vesk %F\n"), std::string::npos);
    EXPECT_NE(entry.find("\nIcon=vesk\n"), std::string::npos);
    // The desktop entry and the AppStream metainfo offer what the table of formats reads, in its order.
    std::string listed, provided;
    for (const auto& type : platform::formatMediaTypes()) {
        listed += type + ";";
        provided += "<mediatype>" + type + "</mediatype>";
    }
    EXPECT_NE(entry.find("\nMimeType=" + listed + "\n"), std::string::npos) << entry;
    std::string metainfo = vesk::test::readFile((dir.path() / "share/metainfo/org.vesk.vesk.metainfo.xml").string());
    std::erase_if(metainfo, [](char c) { return c == ' ' || c == '\n'; });
    EXPECT_NE(metainfo.find(provided), std::string::npos) << metainfo;
}
