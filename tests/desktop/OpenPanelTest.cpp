// The Open dialog and the window's menus, driven through the real window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <mutex>
#include <thread>

#include "DesktopSupport.h"
#include "app/AppDelegate.h"
#include "desktop/ApplicationShell.h"
#include "desktop/FileDialogOpenPanel.h"
#include "desktop/MainWindow.h"
#include "inspector/InfoKeys.h"
#include "platform/Dispatch.h"
#include "platform/NotificationCenter.h"

using namespace vesk;
using namespace vesk::desktop;
using vesk::test::ScratchDir;

namespace {

const std::string kSample = std::string(VESK_SOURCE_DIR) + "/samples/Canon_DIGITAL_IXUS_400.jpg";

struct Seen {
    std::thread::id thread;
    std::optional<platform::Value> object;
};

class OpenDialog : public ::testing::Test {
protected:
    void SetUp() override {
        shell.launch();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&shell.window()));
        t.center.addObserver(
            this, platform::kAddFromFileNotification, [this](const platform::Notification& note) {
                std::lock_guard lock(mutex);
                events.push_back({std::this_thread::get_id(), note.object});
            });
        store->addObserver([this](const std::string& key, const std::optional<std::string>& value) {
            std::lock_guard lock(mutex);
            if (key == prefCurFilePath && value) reportThreads.push_back(std::this_thread::get_id());
        });
    }
    void TearDown() override {
        t.globalQueue.waitIdle();
        QCoreApplication::processEvents();
        t.center.removeObserver(this);
    }

    QFileDialog* openDialog() {
        shell.window().openAction()->trigger();
        return shell.window().findChild<QFileDialog*>();
    }
    std::vector<Seen> seen() {
        std::lock_guard lock(mutex);
        return events;
    }

    std::shared_ptr<platform::MemoryUserDefaults> store = std::make_shared<platform::MemoryUserDefaults>();
    vesk::test::DesktopServices t{store};
    ApplicationShell shell{t};
    std::mutex mutex;
    std::vector<Seen> events;
    std::vector<std::thread::id> reportThreads;
};

}  // namespace

TEST_F(OpenDialog, IsAWindowModalSheetForOneExistingJpgOrTiffThatReturnsAtOnce) {
    QFileDialog* dialog = openDialog();  // returned without waiting for the user
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->parentWidget(), &shell.window());
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Select JPEG or TIFF File"));
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog->nameFilters(),
              QStringList{QStringLiteral("Images (*.jpg *.tiff *.heic *.heif *.hif *.avif *.jxl *.cr3)")});
    dialog->reject();
}

TEST_F(OpenDialog, OkWithOneImagePostsOneFileUrlFromTheBackgroundAndReportsOnTheMainThread) {
    QFileDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(QString::fromStdString(kSample));
    static_cast<QDialog*>(dialog)->accept();  // the dialog's own OK, file checks included

    ASSERT_TRUE(QTest::qWaitFor([&] { return store->get(prefCurFilePath).has_value(); }, 10000));
    EXPECT_EQ(store->get(prefCurFilePath), kSample);

    const auto posted = seen();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_NE(posted[0].thread, std::this_thread::get_id());
    EXPECT_EQ(posted[0].object, platform::Value(platform::Array{platform::Value(platform::Url{kSample})}));
    std::lock_guard lock(mutex);
    ASSERT_EQ(reportThreads.size(), 1u);
    EXPECT_EQ(reportThreads[0], std::this_thread::get_id());
    // The dialog is gone once it has been answered.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(shell.window().findChild<QFileDialog*>(), nullptr);
}

TEST_F(OpenDialog, CancelPostsNothing) {
    QFileDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(QString::fromStdString(kSample));
    dialog->reject();
    t.globalQueue.waitIdle();
    QTest::qWait(50);
    EXPECT_TRUE(seen().empty());
    EXPECT_FALSE(store->get(prefCurFilePath));
}

TEST_F(OpenDialog, ATypedInFileOfAnotherTypePostsNothing) {
    ScratchDir dir;
    const std::string other = dir.write("libthing.dylib", "not a library");
    QFileDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(QString::fromStdString(other));
    static_cast<QDialog*>(dialog)->accept();
    t.globalQueue.waitIdle();
    QTest::qWait(50);
    EXPECT_TRUE(seen().empty());
}

TEST(OpenPanelTypes, MatchTheExtensionsGivenInAnyLetterCase) {
    const std::vector<std::string> types{"jpg", "tiff"};
    EXPECT_TRUE(FileDialogOpenPanel::hasAllowedType("/a/b.jpg", types));
    EXPECT_TRUE(FileDialogOpenPanel::hasAllowedType("/a/b.JPG", types));
    EXPECT_TRUE(FileDialogOpenPanel::hasAllowedType("/a/b.c.Tiff", types));
    EXPECT_FALSE(FileDialogOpenPanel::hasAllowedType("/a/b.tif", types));
    EXPECT_FALSE(FileDialogOpenPanel::hasAllowedType("/a/jpg", types));
    EXPECT_FALSE(FileDialogOpenPanel::hasAllowedType("/a/b.jpg.txt", types));
}

TEST(Menus, OpenInspectAboutAndQuitAreThere) {
    MainWindow window;
    EXPECT_EQ(window.openAction()->shortcut(), QKeySequence(QKeySequence::Open));
    EXPECT_EQ(window.quitAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    QStringList titles;
    for (QAction* menu : window.menuBar()->actions()) titles.append(menu->text().remove(QLatin1Char('&')));
    EXPECT_EQ(titles, (QStringList{"File", "Help"}));

    const QList<QAction*> file = window.menuBar()->actions()[0]->menu()->actions();
    EXPECT_TRUE(file.contains(window.openAction()));
    EXPECT_TRUE(file.contains(window.inspectTestFileAction()));
    EXPECT_TRUE(file.contains(window.quitAction()));
    EXPECT_TRUE(window.inspectTestFileAction()->text().contains(QStringLiteral("~/Desktop/testexif.jpg")));
    EXPECT_TRUE(window.menuBar()->actions()[1]->menu()->actions().contains(window.aboutAction()));
}

TEST(Menus, InspectRunsTheFixedFileActionOnTheTestFile) {
    ScratchDir home;
    std::filesystem::create_directories(home.path() / "Desktop");
    std::filesystem::copy_file(kSample, home.path() / "Desktop" / "testexif.jpg");
    vesk::test::ScopedEnv homeEnv("HOME", home.path().string());

    auto store = std::make_shared<platform::MemoryUserDefaults>();

    vesk::test::DesktopServices s(store);
    ApplicationShell shell(s);
    shell.launch();
    shell.window().inspectTestFileAction()->trigger();
    // Called directly, not through the queue.
    EXPECT_EQ(store->get(prefCurFilePath), (home.path() / "Desktop" / "testexif.jpg").string());
}

TEST(Menus, AboutShowsTheVersionText) {
    auto store = std::make_shared<platform::MemoryUserDefaults>();
    vesk::test::DesktopServices s(store);
    ApplicationShell shell(s);
    shell.launch();
    QString shown;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->accept();
        }
    });
    shell.window().aboutAction()->trigger();  // returns when the box is closed
    EXPECT_EQ(shown, QString::fromStdString(getAppVersionString()));
}
