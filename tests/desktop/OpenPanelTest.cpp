// SPDX-License-Identifier: GPL-3.0-or-later
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
#include <QFileSystemModel>
#include <QLabel>
#include <QRegularExpression>
#include <algorithm>
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
#include "platform/Formats.h"
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
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Select a File to Inspect"));
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
    // What the table of formats reads, JPEG and TIFF first as the window always offered.
    const auto offered = platform::formatExtensions();
    EXPECT_EQ(dialog->nameFilters(), QStringList{FileDialogOpenPanel::nameFilter(offered)});
    for (const char* ext : {"jpg", "tif", "heic", "png", "webp", "gif", "dng", "nef", "dylib"})
        EXPECT_NE(std::find(offered.begin(), offered.end(), ext), offered.end()) << ext;
    EXPECT_EQ(offered.front(), "jpg");
    EXPECT_TRUE(dialog->testOption(QFileDialog::HideNameFilterDetails));
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

TEST_F(OpenDialog, ATypedInFileOfAnotherTypePostsNothingAndIsNamedInTheStatusLine) {
    ScratchDir dir;
    const std::string other = dir.write("notes.txt", "plain words");
    QFileDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(QString::fromStdString(other));
    static_cast<QDialog*>(dialog)->accept();
    EXPECT_EQ(shell.window().statusLabel()->text(), QStringLiteral("notes.txt: a text file; Vesk reads photos, macOS bundles and libraries"));
    EXPECT_FALSE(store->get(prefCurFilePath));
    t.globalQueue.waitIdle();
    QTest::qWait(50);
    EXPECT_TRUE(seen().empty());
}

// "jpg" and "tiff" stand for the JPEG and TIFF types, as on macOS: every
// extension of those types, in any letter case.
TEST(OpenPanelTypes, MatchEveryExtensionOfTheTypesGivenInAnyLetterCase) {
    const std::vector<std::string> types{"jpg", "tiff"};
    EXPECT_EQ(extensionsOfTypes(types), (std::vector<std::string>{"jpg", "jpeg", "jpe", "jfif", "tif", "tiff"}));
    for (const char* name : {"/a/b.jpg", "/a/b.JPG", "/a/b.c.Tiff", "/a/b.tif", "/a/photo.JPEG", "/a/b.Jpe",
                             "/a/b.jfif", "/a/b.TIF"})
        EXPECT_TRUE(FileDialogOpenPanel::hasAllowedType(name, types)) << name;
    for (const char* name : {"/a/jpg", "/a/b.jpg.txt", "/a/b.png", "/a/b.dylib", "/a/b.jp2"})
        EXPECT_FALSE(FileDialogOpenPanel::hasAllowedType(name, types)) << name;
}

TEST(OpenPanelTypes, TheFilterHoldsEveryExtensionAsAPatternOfAnyLetterCase) {
    const QString filter = FileDialogOpenPanel::nameFilter({"jpg", "tiff"});
    EXPECT_EQ(filter, QStringLiteral("Images: jpg, jpeg, jpe, jfif, tif, tiff (*.[jJ][pP][gG] *.[jJ][pP][eE][gG] "
                                     "*.[jJ][pP][eE] *.[jJ][fF][iI][fF] *.[tT][iI][fF] *.[tT][iI][fF][fF])"));
    // Each pattern, read as the dialogs read it, takes the name in any case.
    const QStringList patterns = filter.section(QLatin1Char('('), 1).chopped(1).split(QLatin1Char(' '));
    ASSERT_EQ(patterns.size(), 6);
    for (const QString name : {"a.jpg", "A.JPG", "b.Jpeg", "c.jpe", "d.JFIF", "e.tif", "f.TIFF", "photo.JPEG"}) {
        const bool matched = std::any_of(patterns.begin(), patterns.end(), [&](const QString& p) {
            return QRegularExpression::fromWildcard(p, Qt::CaseSensitive).match(name).hasMatch();
        });
        EXPECT_TRUE(matched) << name.toStdString();
    }
    EXPECT_FALSE(QRegularExpression::fromWildcard(patterns[0], Qt::CaseSensitive).match("a.png").hasMatch());
}

// Choosing photo.JPEG: the dialog lists it and its report is shown.
TEST_F(OpenDialog, OffersPhotoDotJPEGAndChoosingItShowsItsReport) {
    ScratchDir dir;
    const std::string photo = dir.file("photo.JPEG");
    std::filesystem::copy_file(kSample, photo);
    dir.write("notes.txt", "words");
    dir.write("scan.TIF", "not really a tiff");

    QFileDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(QString::fromStdString(dir.path().string()));
    // What the dialog's own list shows of the folder, its filter applied.
    auto* model = dialog->findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    const QModelIndex folder = model->index(QString::fromStdString(dir.path().string()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount(folder) > 0; }, 5000));
    QTest::qWait(100);
    QStringList listed;
    for (int row = 0; row < model->rowCount(folder); ++row) {
        const QModelIndex index = model->index(row, 0, folder);
        // Names the filter refuses stay in the model, disabled, or are left out.
        if (model->flags(index) & Qt::ItemIsEnabled) listed.append(model->fileName(index));
    }
    listed.sort();
    EXPECT_EQ(listed, (QStringList{"photo.JPEG", "scan.TIF"}));

    dialog->reject();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // Chosen in a dialog of its own, before the dialog takes the keyboard focus
    // (selectFile leaves a focused name field alone).
    dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(QString::fromStdString(photo));
    static_cast<QDialog*>(dialog)->accept();
    ASSERT_TRUE(QTest::qWaitFor([&] { return store->get(prefTextViewString1).has_value(); }, 10000));
    EXPECT_EQ(store->get(prefCurFilePath), photo);
    EXPECT_NE(store->get(prefTextViewString5)->find("Canon"), std::string::npos);
    EXPECT_EQ(shell.window().statusLabel()->text(), QStringLiteral("photo.JPEG: Image metadata shown"));
}

TEST_F(OpenDialog, StartsInTheFolderOfTheLastFileChosen) {
    ScratchDir dir;
    std::filesystem::create_directory(dir.path() / "holiday");
    const std::string photo = (dir.path() / "holiday" / "beach.jpg").string();
    std::filesystem::copy_file(kSample, photo);

    QFileDialog* first = openDialog();
    ASSERT_NE(first, nullptr);
    first->selectFile(QString::fromStdString(photo));
    static_cast<QDialog*>(first)->accept();
    ASSERT_TRUE(QTest::qWaitFor([&] { return store->get(prefCurFilePath).has_value(); }, 10000));
    EXPECT_EQ(store->get(FileDialogOpenPanel::kLastFolderKey), (dir.path() / "holiday").string());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QFileDialog* second = openDialog();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->directory().absolutePath(), QString::fromStdString((dir.path() / "holiday").string()));
    // The title and the single selection stay.
    EXPECT_EQ(second->windowTitle(), QStringLiteral("Select a File to Inspect"));
    EXPECT_EQ(second->fileMode(), QFileDialog::ExistingFile);
    second->reject();

    // A folder that has gone since is passed over.
    std::filesystem::remove_all(dir.path() / "holiday");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QFileDialog* third = openDialog();
    ASSERT_NE(third, nullptr);
    EXPECT_NE(third->directory().absolutePath(), QString::fromStdString((dir.path() / "holiday").string()));
    third->reject();
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
    // Polled: on a busy machine the box may not be up at the first turn of its loop.
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->accept();
        }
    });
    poll.start();
    // Inside the application's own loop, which a quit left over by an earlier
    // test cannot end before the box has been seen.
    QTimer::singleShot(0, &shell.window(), [&] {
        shell.window().aboutAction()->trigger();  // returns when the box is closed
        QCoreApplication::quit();
    });
    QTimer::singleShot(10000, &shell.window(), [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(shown, QString::fromStdString(getAppVersionString()));
}
