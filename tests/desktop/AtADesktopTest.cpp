// SPDX-License-Identifier: GPL-3.0-or-later
// The window as a user at a desktop meets it: the reveal never
// holds the window up, every failure is told in the status line, every
// bundle and library the drop area takes fills field 1, the path field keeps
// the file's name in view, and the program answers --help and --version
// without a display and takes file names that are not UTF-8.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QAction>
#include <QStatusBar>
#include <QTreeWidget>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <functional>
#include <filesystem>

#include "../runner/RunnerSupport.h"
#include "DesktopSupport.h"
#include "desktop/ApplicationShell.h"
#include "desktop/DetailsPane.h"
#include "desktop/DetailsView.h"
#include "desktop/DoubleClickButton.h"
#include "desktop/DropArea.h"
#include "desktop/MainWindow.h"
#include "desktop/ShowInFolder.h"
#include "desktop/PathField.h"
#include "inspector/InfoKeys.h"
#include "platform/UserDefaults.h"

extern char** environ;

using namespace vesk;
using namespace vesk::desktop;
using vesk::test::ScratchDir;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kSample = std::string(VESK_SOURCE_DIR) + "/samples/Canon_DIGITAL_IXUS_400.jpg";
const std::string kFixtures = VESK_FIXTURE_DIR;

QString q(const std::string& s) { return QString::fromStdString(s); }

class AtADesktop : public ::testing::Test {
protected:
    void SetUp() override {
        shell.launch();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&shell.window()));
    }
    QString status() const { return shell.window().statusLabel()->text(); }
    QString field1() const { return shell.window().infoField(q(prefTextViewString1))->toPlainText(); }
    // Hands `path` over as the desktop would and waits for its outcome.
    void open(const std::string& path) {
        const QString before = status();
        shell.window().statusLabel()->clear();
        shell.openFiles(std::vector<std::string>{path});
        EXPECT_TRUE(QTest::qWaitFor([&] { return !status().isEmpty(); }, 10000)) << path << " (was " << before.toStdString() << ")";
    }

    std::shared_ptr<platform::MemoryUserDefaults> store = std::make_shared<platform::MemoryUserDefaults>();
    vesk::test::DesktopServices t{store};
    ApplicationShell shell{t};
    ScratchDir dir;
};

}  // namespace

// One row per way a file can end; the fields and the store keep their
// behaviour (a missing file leaves the last report on show), the status line
// says what happened.
TEST_F(AtADesktop, TheStatusLineSaysWhatBecameOfTheLastFile) {
    const std::string locked = dir.write("locked.jpg", vesk::test::readFile(kSample));
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    std::filesystem::copy_file(kFixtures + "/dylib/libvesk-arm64.dylib", dir.file("libvesk"));
    const struct {
        std::string path;
        const char* status;
        bool field1Filled;
    } rows[] = {
        {kSample, "Canon_DIGITAL_IXUS_400.jpg: Image metadata shown", true},
        {dir.file("gone.jpg"), "gone.jpg: No such file", true},  // the last report stays
        {locked, "locked.jpg: Cannot read: permission denied", false},
        {dir.write("notes.txt", "plain words"), "notes.txt: No image metadata found", false},
        {kFixtures + "/macho/NoExecutable.bundle", "NoExecutable.bundle: No executable in this bundle", false},
        {kFixtures + "/macho/Script.app", "Script.app: The bundle's executable is not a Mach-O file", false},
        {dir.write("fake.dylib", "no Mach-O header in here"), "fake.dylib: Not a Mach-O file", true},
        {kFixtures + "/macho/Viewer.app", "Viewer.app: 2 architectures in the bundle's executable", true},
        {dir.file("libvesk"), "libvesk: Described by the file tool", true},
        {kFixtures + "/image/big-comment.tif",
         "big-comment.tif: Image metadata shown (cut short: 1 tag texts cut to 64 KB)", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        const auto pathBefore = store->get(prefCurFilePath);
        {
            // File permissions bind even when the tests run as root.
            const vesk::test::PermissionsBind asAUser;
            open(row.path);
        }
        EXPECT_EQ(status(), QString::fromUtf8(row.status));
        EXPECT_EQ(shell.window().statusLabel()->toolTip(), status());
        // The warning sign marks a file that could not be shown as asked.
        const bool shownAsAsked = std::string(row.status).find(": Image metadata shown") != std::string::npos ||
                                  std::string(row.status).find("architectures") != std::string::npos ||
                                  std::string(row.status).ends_with("Described by the file tool");
        EXPECT_EQ(shell.window().statusIcon()->isVisibleTo(&shell.window()), !shownAsAsked);
        if (std::string(row.status).ends_with("No such file"))
            EXPECT_EQ(store->get(prefCurFilePath), pathBefore);
        else
            EXPECT_EQ(store->get(prefCurFilePath), row.path);
        EXPECT_EQ(!field1().isEmpty(), row.field1Filled) << field1().toStdString();
    }
}

// Dropping or opening an .app, a .framework and a Mach-O library with no
// .dylib name each fill field 1.
TEST_F(AtADesktop, DroppedOrOpenedAppsFrameworksAndUnnamedLibrariesFillField1) {
    std::filesystem::copy_file(kFixtures + "/dylib/libvesk-universal.dylib", dir.file("libvesk"));
    const std::string files[] = {kFixtures + "/macho/Viewer.app", kFixtures + "/macho/Kit.framework",
                                 dir.file("libvesk")};
    DropArea* area = shell.window().dropArea();
    for (const auto& file : files) {
        SCOPED_TRACE(file);
        // Dropped, as a file manager drags it.
        shell.viewController().clearInfo();
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(q(file))});
        mime.setText(q(file));
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(area, &enter);
        EXPECT_TRUE(area->dragDropView().isHighlighted());
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(area, &drop);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !field1().isEmpty(); }, 10000));
        EXPECT_EQ(store->get(prefCurFilePath), file);
        EXPECT_TRUE(field1().contains(QStringLiteral("ARM64")) || field1().contains(QStringLiteral("arm64")))
            << field1().toStdString();

        // Opened, as the desktop hands it over.
        shell.viewController().clearInfo();
        open(file);
        EXPECT_FALSE(field1().isEmpty());
    }
}

// Sends `type` carrying `files` to `target`, as Qt delivers a drag; accepted or not.
bool sendDrag(QWidget* target, QEvent::Type type, const std::vector<std::string>& files) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const auto& f : files) urls.append(QUrl::fromLocalFile(q(f)));
    mime.setUrls(urls);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier, type);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QDragLeaveEvent leave;
    QEvent* event = type == QEvent::DragEnter   ? static_cast<QEvent*>(&enter)
                    : type == QEvent::DragLeave ? static_cast<QEvent*>(&leave)
                                                : static_cast<QEvent*>(&drop);
    QApplication::sendEvent(target, event);
    return event->isAccepted();
}

// The whole window is one drop target in either view: a drag over any of its
// widgets lights the outline, a move between them keeps it lit, the drop shows
// the file, and the file row is there in either view.
TEST_F(AtADesktop, EveryViewTakesADropAnywhereInTheWindow) {
    const std::vector<std::string> photo{dir.file("a.jpg")};
    std::filesystem::copy_file(kSample, photo[0]);
    MainWindow& window = shell.window();
    const auto takerOf = [](QWidget* w) {  // where Qt delivers: the nearest widget that takes drops
        while (w && !w->acceptDrops()) w = w->parentWidget();
        return w;
    };
    for (const auto& [details, under] : {std::pair<bool, const char*>{false, "propertiesField"}, {false, "dropArea"},
                                         {true, "propertyTree"}, {true, "filterField"}}) {
        SCOPED_TRACE(under);
        (details ? shell.details().detailsAction() : shell.details().fieldsAction())->trigger();
        shell.viewController().clearInfo();
        QWidget* target = takerOf(window.findChild<QWidget*>(QString::fromLatin1(under)));
        QWidget* other = target == window.dropArea() ? static_cast<QWidget*>(&window) : window.dropArea();
        EXPECT_TRUE(sendDrag(target, QEvent::DragEnter, photo));
        sendDrag(target, QEvent::DragLeave, photo);
        EXPECT_TRUE(sendDrag(other, QEvent::DragEnter, photo));
        QApplication::processEvents();
        EXPECT_TRUE(window.dropArea()->dragDropView().isHighlighted());
        sendDrag(other, QEvent::Drop, photo);
        EXPECT_TRUE(QTest::qWaitFor([&] { return store->get(prefCurFilePath) == photo[0]; }, 10000));
        EXPECT_TRUE(!details || QTest::qWaitFor([&] { return shell.details().view()->tree()->topLevelItemCount(); }));
        EXPECT_TRUE(window.currentFileField()->isVisible() && window.doubleClickButton()->isVisible());
    }
}

// Every drop and open is answered in the status line: a file not taken says
// what it is, files that came together say which one is on show, and Next and
// Previous step through them.
TEST_F(AtADesktop, EveryDropIsAnsweredAndSeveralFilesAreSteppedThrough) {
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) std::filesystem::copy_file(kSample, dir.file(name));
    const std::string notes = dir.write("notes.txt", "plain words"), plain = dir.file("plain");
    std::filesystem::create_directory(plain);
    const std::vector<std::string> three{dir.file("a.jpg"), dir.file("b.jpg"), dir.file("c.jpg")};
    const std::string tail = "; Vesk reads photos, macOS bundles and libraries";
    const struct {
        bool dropped;  // else handed over by the desktop
        std::vector<std::string> files;
        std::string status;
        int steps;  // Next (+1) or Previous (-1) then
        std::string stepped;
    } rows[] = {
        {true, {notes}, "notes.txt: a text file" + tail, 0, ""},
        {true, {plain}, "plain: a folder that is no bundle" + tail, 0, ""},
        {true, {notes, plain}, "notes.txt: a text file" + tail + " (and 1 more not taken)", 0, ""},
        {true, {three[0], notes}, "a.jpg: Image metadata shown · 1 not taken: notes.txt: a text file" + tail, 0, ""},
        {true, three, "a.jpg: Image metadata shown — 1 of 3", 1, "b.jpg: Image metadata shown — 2 of 3"},
        {false, three, "a.jpg: Image metadata shown — 1 of 3", -1, "c.jpg: Image metadata shown — 3 of 3"},
    };
    const auto answered = [&](const std::function<void()>& act) {
        shell.window().statusLabel()->clear();
        act();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !status().isEmpty(); }, 10000));
        return status().toStdString();
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.status);
        EXPECT_EQ(answered([&] {
                      if (!row.dropped) return shell.openFiles(row.files);
                      sendDrag(&shell.window(), QEvent::DragEnter, row.files);
                      sendDrag(&shell.window(), QEvent::Drop, row.files);
                  }),
                  row.status);
        EXPECT_EQ(shell.window().nextFileAction()->isEnabled(), row.steps != 0);
        if (row.steps == 0) continue;
        EXPECT_EQ(answered([&] {
                      (row.steps > 0 ? shell.window().nextFileAction() : shell.window().previousFileAction())->trigger();
                  }),
                  row.stepped);
    }
    EXPECT_EQ(shell.window().nextFileAction()->shortcut(), QKeySequence(Qt::Key_PageDown));
    EXPECT_EQ(shell.window().previousFileAction()->shortcut(), QKeySequence(Qt::Key_PageUp));
}

namespace {

// A file manager on the test's own session bus: records what it is asked to show.
struct StandInFileManager : QDBusVirtualObject {
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        shown.push_back(message.arguments().value(0).toStringList());
        return connection.send(message.createReply());
    }
    std::vector<QStringList> shown;
};

}  // namespace

// File > Show in Folder asks the file manager on the session bus to select
// the file; with none there, the opener shows the folder, as the button does.
TEST_F(AtADesktop, ShowInFolderAsksTheFileManagerAndElseOpensTheFolder) {
    QProcess daemon;  // the test's own session bus
    daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
    ASSERT_TRUE(daemon.waitForReadyRead(10000)) << "dbus-daemon (scripts/setup installs it)";
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    shell.showInFolder().setBus(QDBusConnection::connectToBus(address, QStringLiteral("vesk-under-test")));
    auto& log = t.startLog();
    const std::string record = dir.file("record"), photo = dir.file("a b/photo.jpg");
    shell.viewController().setOpenToolPath(vesk::test::writeRecordingTool(dir, "open-tool", record));
    std::filesystem::create_directory(dir.file("a b"));
    std::filesystem::copy_file(kSample, photo);
    QAction* action = shell.window().showInFolderAction();
    EXPECT_EQ(action->shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+R")));
    EXPECT_FALSE(action->isEnabled());  // nothing on show yet
    open(photo);
    EXPECT_TRUE(QTest::qWaitFor([&] { return action->isEnabled(); }, 5000));
    for (const bool fileManager : {true, false}) {
        StandInFileManager manager;
        QDBusConnection managerBus = QDBusConnection::connectToBus(address, QStringLiteral("stand-in"));
        if (fileManager) {
            ASSERT_TRUE(managerBus.registerService(QString::fromLatin1(ShowInFolder::kService)));
            ASSERT_TRUE(managerBus.registerVirtualObject(QString::fromLatin1(ShowInFolder::kObjectPath), &manager));
        }
        action->trigger();  // returns at once either way
        if (fileManager) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return !manager.shown.empty(); }, 10000));
            EXPECT_EQ(manager.shown.front(), QStringList{QUrl::fromLocalFile(q(photo)).toString(QUrl::FullyEncoded)});
            QTest::qWait(200);
            EXPECT_TRUE(vesk::test::readRecord(record).empty());
        } else {
            ASSERT_TRUE(QTest::qWaitFor([&] { return vesk::test::waitForReveals(log, 1, std::chrono::milliseconds(0)); }));
            EXPECT_EQ(vesk::test::readRecord(record).back(), std::vector<std::string>{dir.file("a b")});
        }
        managerBus.unregisterObject(QString::fromLatin1(ShowInFolder::kObjectPath));
        managerBus.unregisterService(QString::fromLatin1(ShowInFolder::kService));
        QDBusConnection::disconnectFromBus(QStringLiteral("stand-in"));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("vesk-under-test"));
    daemon.kill();
    daemon.waitForFinished();
}

// The reveal with an opener that stays 5 s in the foreground, as xdg-open
// does without a desktop session: the window keeps serving its event loop,
// and the opener's result is logged when it ends.
TEST_F(AtADesktop, AnOpenerThatStaysInTheForegroundLeavesTheWindowResponsive) {
    std::filesystem::create_directory(dir.path() / "photos");
    const std::string photo = (dir.path() / "photos" / "photo.jpg").string();
    std::filesystem::copy_file(kSample, photo);
    shell.viewController().setOpenToolPath(
        vesk::test::writeTool(dir, "slow-opener", "sleep 5\nprintf 'file manager closed\\n'\n"));
    open(photo);
    auto& log = t.startLog();

    DoubleClickButton* button = shell.window().doubleClickButton();
    QTest::lastMouseTimestamp += 10 * QTest::mouseDoubleClickInterval;
    const auto start = Clock::now();
    QTest::mouseDClick(shell.window().windowHandle(), Qt::LeftButton, {},
                       button->mapTo(&shell.window(), button->rect().center()));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));

    // A timer fires within 100 ms, and again while the opener still runs.
    Clock::time_point fired;
    QTimer::singleShot(0, [&] { fired = Clock::now(); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return fired != Clock::time_point(); }, 1000));
    EXPECT_LT(fired - start, std::chrono::milliseconds(100));
    QTest::qWait(2000);
    bool again = false;
    const auto second = Clock::now();
    QTimer::singleShot(10, [&] { again = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return again; }, 1000));
    EXPECT_LT(Clock::now() - second, std::chrono::milliseconds(100));
    EXPECT_FALSE(vesk::test::waitForReveals(log, 1, std::chrono::milliseconds(0)));

    ASSERT_TRUE(QTest::qWaitFor([&] { return vesk::test::waitForReveals(log, 1, std::chrono::milliseconds(0)); }, 30000));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(4900));
    const auto lines = log.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "returnstring = file manager closed\n"), 1);
    EXPECT_TRUE(vesk::test::waitForNoChildren());
}

TEST_F(AtADesktop, ABundleThatCannotBeLookedIntoIsSaidSo) {
    // A folder named like a bundle that cannot be looked into.
    std::filesystem::create_directory(dir.path() / "Closed.app");
    std::filesystem::permissions(dir.path() / "Closed.app", std::filesystem::perms::none);
    const vesk::test::PermissionsBind asAUser;
    shell.viewController().performGetBundleInfo((dir.path() / "Closed.app").string());
    EXPECT_EQ(status(), QStringLiteral("Closed.app: Cannot read: permission denied"));
}

// The path field cuts a long path in the middle, so the name stays in view,
// and shows the whole path in its tooltip; its text stays the whole path.
TEST_F(AtADesktop, ALongPathIsCutInTheMiddleAndWholeInTheTooltip) {
    std::string folder = dir.path().string();
    for (int i = 0; i < 12; ++i) folder += "/a folder with a long name " + std::to_string(i);
    std::filesystem::create_directories(folder);
    const std::string photo = folder + "/the photo I want to see.jpg";
    std::filesystem::copy_file(kSample, photo);
    open(photo);

    auto* field = static_cast<PathField*>(shell.window().currentFileField());
    shell.window().doubleClickButton()->setFocus();
    EXPECT_EQ(field->text(), q(photo));
    EXPECT_EQ(field->toolTip(), q(photo));
    const QString shown = field->displayedText();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("the photo I want to see.jpg"))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith(q(dir.path().string().substr(0, 4)))) << shown.toStdString();
    EXPECT_LE(field->fontMetrics().horizontalAdvance(shown), field->width());

    // A short path is shown whole.
    open(kSample);
    EXPECT_EQ(field->displayedText(), q(kSample).right(field->displayedText().size()));
    field->resize(4000, field->height());
    EXPECT_EQ(field->displayedText(), q(kSample));
}

// A long name in the status line gives way to what became of the file.
TEST_F(AtADesktop, TheStatusLineKeepsTheReasonInViewOfALongName) {
    const std::string name = std::string(200, 'n') + ".jpg";
    std::filesystem::copy_file(kSample, dir.file(name));
    open(dir.file(name));
    const QString whole = QString::fromStdString(name + ": Image metadata shown");
    EXPECT_EQ(shell.window().statusLabel()->toolTip(), whole);
    EXPECT_TRUE(status().contains(QChar(0x2026))) << status().toStdString();
    EXPECT_TRUE(status().endsWith(QStringLiteral(": Image metadata shown"))) << status().toStdString();
    shell.window().resize(shell.window().width() + 2000, shell.window().height());
    EXPECT_TRUE(QTest::qWaitFor([&] { return status() == whole; }, 5000));
}

namespace {

struct VeskRun {
    int status = -1;
    std::string out, err;
};

// Runs vesk with arguments and environment given as bytes (QProcess takes
// only text), standard output and error to files; ends it after 30 s.
VeskRun runVesk(const std::vector<std::string>& args, const std::vector<std::string>& env, const ScratchDir& dir) {
    std::vector<std::string> argvText{VESK_BIN};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv, envp;
    for (auto& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envText(env);
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string out = dir.file("out"), err = dir.file("err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    VeskRun run;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return run;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        QTest::qWait(10);
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = vesk::test::readFile(out);
    run.err = vesk::test::readFile(err);
    return run;
}

// No display of any kind, and a platform that needs one: creating the
// window system's connection here would abort.
std::vector<std::string> noDisplay(const ScratchDir& dir) {
    return {"PATH=/usr/bin:/bin", "HOME=" + dir.path().string(), "QT_QPA_PLATFORM=xcb",
            "XDG_RUNTIME_DIR=" + dir.path().string(), "VESK_DEFAULTS_FILE=" + dir.file("store.plist")};
}

}  // namespace

TEST(VeskOptions, HelpVersionAndUnknownOptionsAnswerWithoutADisplay) {
    ScratchDir dir;
    const VeskRun help = runVesk({"--help"}, noDisplay(dir), dir);
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_NE(help.out.find("Usage: "), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("--version"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("[files...]"), std::string::npos) << help.out;
    EXPECT_EQ(help.out.find("screenshot"), std::string::npos) << "a hidden option stays hidden";

    for (const char* option : {"--version", "-v"}) {
        const VeskRun version = runVesk({option}, noDisplay(dir), dir);
        EXPECT_EQ(version.status, 0) << version.err;
        EXPECT_EQ(version.out, "Vesk " VESK_VERSION "\n");
    }
    const VeskRun shortHelp = runVesk({"-h"}, noDisplay(dir), dir);
    EXPECT_EQ(shortHelp.status, 0);
    EXPECT_EQ(shortHelp.out, help.out);
    // What neither Vesk nor Qt takes is said without a display too; Qt's own
    // options are left for Qt.
    const struct {
        std::vector<std::string> args;
        const char* said;
    } refused[] = {
        {{"--bogus"}, "Vesk: Unknown option 'bogus'.\n"},
        {{"-platform", "xcb", "-x", "--also"}, "Vesk: Unknown options: x, also.\n"},
        {{"--view"}, "Vesk: Missing value after '--view'.\n"},
    };
    for (const auto& r : refused) {
        const VeskRun run = runVesk(r.args, noDisplay(dir), dir);
        EXPECT_EQ(run.status, 1) << r.said;
        EXPECT_NE(run.err.find(r.said), std::string::npos) << run.err;
    }
    // Nothing was shown, so nothing was stored.
    EXPECT_FALSE(std::filesystem::exists(dir.file("store.plist")));
}

TEST(VeskOptions, AFileNameThatIsNotUtf8ReachesTheReportAsItsBytes) {
    ScratchDir dir;
    const std::string name = dir.path().string() + "/caf\xE9 \xFF.jpg";
    std::filesystem::copy_file(kSample, name);
    std::vector<std::string> env = noDisplay(dir);
    env[2] = "QT_QPA_PLATFORM=offscreen";
    const VeskRun run = runVesk({"--screenshot", dir.file("shot.png"), name}, env, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    platform::FileUserDefaults saved(dir.file("store.plist"), vesk::test::quietLog());
    EXPECT_EQ(saved.get(prefCurFilePath), name);
    EXPECT_NE(saved.get(prefTextViewString5).value_or("").find("Canon"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir.file("shot.png")));
}
