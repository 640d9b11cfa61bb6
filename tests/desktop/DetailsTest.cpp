// SPDX-License-Identifier: GPL-3.0-or-later
// The details view in the running window: one keystroke from the fields,
// summary and privacy line on a real photo, the filter, copying, the exports
// against vesk-info, and the report run again when the file changes on disk.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

#include "DesktopSupport.h"
#include "desktop/ApplicationShell.h"
#include "desktop/DetailsPane.h"
#include "desktop/DetailsView.h"
#include "desktop/MainWindow.h"
#include "desktop/WindowState.h"
#include "inspector/InfoKeys.h"
#include "platform/UserDefaults.h"

using namespace vesk;
using namespace vesk::desktop;
using vesk::test::ScratchDir;

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

const std::string kIphone = std::string(VESK_SOURCE_DIR) + "/samples/Apple_iPhone_6.jpg";

// Standard output of a program run without a shell; empty when it failed.
QByteArray run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit) return {};
    return p.readAllStandardOutput();
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The window showing a copy of `sample` (a copy, so a test may change it).
struct Shown {
    explicit Shown(const std::string& sample = kIphone) {
        path = dir.file("photo.jpg");
        std::filesystem::copy_file(sample, path);
        shell.launch({q(path)});
        EXPECT_TRUE(QTest::qWaitFor([&] { return store->get(prefCurFilePath) == path; }, 5000));
    }
    DetailsPane& pane() { return shell.details(); }
    DetailsView& view() { return *shell.details().view(); }
    // The rows on show after the details view was chosen.
    void showDetails() {
        pane().detailsAction()->trigger();
        ASSERT_TRUE(QTest::qWaitFor([&] { return view().tree()->topLevelItemCount() > 0; }, 5000));
    }
    std::vector<QTreeWidgetItem*> visibleRows() const {
        std::vector<QTreeWidgetItem*> out;
        QTreeWidget* tree = shell.details().view()->tree();
        for (int g = 0; g < tree->topLevelItemCount(); ++g)
            for (int c = 0; c < tree->topLevelItem(g)->childCount(); ++c)
                if (!tree->topLevelItem(g)->child(c)->isHidden() && !tree->topLevelItem(g)->isHidden())
                    out.push_back(tree->topLevelItem(g)->child(c));
        return out;
    }

    ScratchDir dir;
    std::string path;
    std::shared_ptr<platform::MemoryUserDefaults> store = std::make_shared<platform::MemoryUserDefaults>();
    vesk::test::DesktopServices services{store};
    ApplicationShell shell{services};
};

}  // namespace

TEST(Details, TheFieldsStayTheDefaultAndTheDetailsAreOneKeystrokeAway) {
    Shown shown;
    QStackedWidget* stack = shown.pane().stack();
    EXPECT_EQ(stack->currentIndex(), 0);
    EXPECT_TRUE(shown.shell.window().infoField(q(prefTextViewString1))->isVisible());
    EXPECT_EQ(shown.pane().detailsAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_2));
    EXPECT_EQ(shown.pane().fieldsAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_1));

    // The commands sit in the menus: View holds both views and Find, File the exports.
    QMenu* fileMenu = nullptr;
    QMenu* viewMenu = nullptr;
    for (QAction* top : shown.shell.window().menuBar()->actions()) {
        if (!top->menu()) continue;
        if (top->menu()->actions().contains(shown.shell.window().openAction())) fileMenu = top->menu();
        if (top->menu()->actions().contains(shown.pane().detailsAction())) viewMenu = top->menu();
    }
    ASSERT_NE(fileMenu, nullptr);
    ASSERT_NE(viewMenu, nullptr);
    EXPECT_TRUE(viewMenu->actions().contains(shown.pane().fieldsAction()));
    EXPECT_TRUE(viewMenu->actions().contains(shown.pane().findAction()));
    bool exportMenu = false;
    for (QAction* a : fileMenu->actions())
        if (a->menu() && a->menu()->actions().contains(shown.pane().exportJsonAction()) &&
            a->menu()->actions().contains(shown.pane().exportTextAction()))
            exportMenu = true;
    EXPECT_TRUE(exportMenu);

    shown.showDetails();
    EXPECT_EQ(stack->currentWidget(), shown.pane().view());
    const QString summary = shown.view().summaryLabel()->text();
    for (const char* part : {"Apple iPhone 6", "1/40 s · f/2.2 · ISO 32 · 4.2 mm (57 mm in 35 mm)", "Off, did not fire",
                             "40°26′49.10″ N, 3°43′29.11″ W"})
        EXPECT_TRUE(summary.contains(QString::fromUtf8(part))) << part;
    EXPECT_TRUE(shown.view().copyPositionButton()->isVisibleTo(&shown.shell.window()));
    shown.view().copyPositionButton()->click();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("40.446972, -3.724753"));

    shown.pane().fieldsAction()->trigger();
    EXPECT_EQ(stack->currentIndex(), 0);
}

TEST(Details, APrivacyItemLeadsToItsRow) {
    Shown shown;
    shown.showDetails();
    QLabel* privacy = shown.view().privacyLabel();
    ASSERT_TRUE(privacy->text().contains(QStringLiteral("GPS position")));
    emit privacy->linkActivated(QStringLiteral("#0"));
    QTreeWidgetItem* current = shown.view().tree()->currentItem();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->text(0), QStringLiteral("Latitude"));
    EXPECT_EQ(current->parent()->text(0), QStringLiteral("{GPS}"));
    EXPECT_EQ(shown.view().selectedValuesText(), QString::fromUtf8("40°26′49.10″ N"));
}

// Without a mouse: Tab reaches the privacy line, Enter opens its first item.
TEST(Details, APrivacyItemIsReachedByTheKeyboard) {
    Shown shown;
    shown.showDetails();
    QLabel* privacy = shown.view().privacyLabel();
    EXPECT_TRUE(privacy->focusPolicy() & Qt::TabFocus);
    EXPECT_TRUE(privacy->textInteractionFlags() & Qt::LinksAccessibleByKeyboard);
    shown.shell.window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&shown.shell.window()));
    privacy->setFocus(Qt::TabFocusReason);
    QTest::keyClick(privacy, Qt::Key_Tab);  // the first item
    EXPECT_TRUE(privacy->hasFocus());
    QTest::keyClick(privacy, Qt::Key_Return);
    QTreeWidgetItem* current = shown.view().tree()->currentItem();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->text(0), QStringLiteral("Latitude"));
}

// The photo beside its numbers: decoded off the GUI thread (or the file's own
// thumbnail), turned as its EXIF orientation says, and a word in its place
// when it cannot be decoded.
TEST(Details, APreviewOfThePhotoOrWhyThereIsNone) {
    ScratchDir dir;
    const std::string turned = dir.file("turned.jpg");
    std::filesystem::copy_file(std::string(VESK_SOURCE_DIR) + "/samples/Canon_DIGITAL_IXUS_400.jpg", turned);
    ASSERT_EQ(QProcess::execute(QStringLiteral("exiftool"), {"-q", "-overwrite_original", "-Orientation#=6", q(turned)}), 0);
    // Too large to decode (52 MP), turned, with a thumbnail of 160 x 120: the thumbnail, turned.
    const std::string huge = dir.file("huge.jpg"), thumb = dir.file("thumb.jpg");
    ASSERT_EQ(QProcess::execute(QStringLiteral("convert"), {"-size", "8000x6500", "xc:gray", q(huge)}), 0);
    ASSERT_EQ(QProcess::execute(QStringLiteral("convert"), {"-size", "160x120", "xc:red", q(thumb)}), 0);
    ASSERT_EQ(QProcess::execute(QStringLiteral("exiftool"),
                                {"-q", "-overwrite_original", "-Orientation#=6", "-ThumbnailImage<=" + q(thumb), q(huge)}),
              0);
    const struct {
        std::string file;
        int shape;  // 1 wider than high, -1 higher than wide, 0 no picture
    } rows[] = {{std::string(VESK_SOURCE_DIR) + "/samples/Canon_DIGITAL_IXUS_400.jpg", 1},
                {turned, -1},
                {huge, -1},
                // libheif, from the file's thumbnail, turned as its own 'irot' says
                {std::string(VESK_SOURCE_DIR) + "/samples/Apple_iPhone_11_Pro_Max.heic", -1},
                {std::string(VESK_FIXTURE_DIR) + "/image/camera.avif", 1},
                // Qt's image plugins
                {std::string(VESK_FIXTURE_DIR) + "/image/camera.tif", -1},
                {std::string(VESK_FIXTURE_DIR) + "/image/exiv2.webp", 1},
                {std::string(VESK_FIXTURE_DIR) + "/image/text.jpg", 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        Shown shown(row.file);
        shown.pane().detailsAction()->trigger();
        QLabel* preview = shown.view().previewLabel();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !preview->pixmap().isNull() || preview->text().startsWith("No preview"); },
                                    10000));
        EXPECT_TRUE(preview->isVisibleTo(&shown.shell.window()));
        const QPixmap picture = preview->pixmap();
        EXPECT_EQ(picture.isNull() ? 0 : picture.width() > picture.height() ? 1 : -1, row.shape);
        if (row.shape) {
            EXPECT_LE(picture.width(), DetailsView::kPreviewWidth);
            EXPECT_LE(picture.height(), DetailsView::kPreviewHeight);
        }
    }
}

TEST(Details, TheFilterKeepsMatchingRowsAndTheirGroupsAndEscClearsIt) {
    Shown shown;
    shown.showDetails();
    const auto all = shown.visibleRows().size();
    shown.pane().findAction()->trigger();
    QLineEdit* filter = shown.view().filterField();
    QTest::keyClicks(filter, QStringLiteral("ISO"));
    const auto kept = shown.visibleRows();
    ASSERT_FALSE(kept.empty());
    EXPECT_LT(kept.size(), all);
    for (QTreeWidgetItem* row : kept) {
        const QString text = row->text(0) + row->text(1) + row->text(2) + row->toolTip(0);
        EXPECT_TRUE(text.contains(QStringLiteral("iso"), Qt::CaseInsensitive)) << text.toStdString();
    }
    // A group with no matching row is hidden with its rows.
    QTreeWidget* tree = shown.view().tree();
    for (int g = 0; g < tree->topLevelItemCount(); ++g)
        if (tree->topLevelItem(g)->text(0) == QStringLiteral("{GPS}")) {
            EXPECT_TRUE(tree->topLevelItem(g)->isHidden());
        }

    QTest::keyClick(filter, Qt::Key_Escape);
    EXPECT_TRUE(filter->text().isEmpty());
    EXPECT_EQ(shown.visibleRows().size(), all);
}

// An application's code as a tree: what it asks for beside the summary, a
// group per slice and its signature, and the filter over them.
TEST(Details, ABundleShowsItsCodeTreeAndWhatItAsksFor) {
    const std::string app = VESK_BINARY_DIR "/fixtures/code/Studio.app";
    auto store = std::make_shared<platform::MemoryUserDefaults>();
    vesk::test::DesktopServices services{store};
    ApplicationShell shell{services};
    shell.launch({q(app)});
    ASSERT_TRUE(QTest::qWaitFor([&] { return store->get(prefCurFilePath) == app; }, 5000));
    shell.details().detailsAction()->trigger();
    DetailsView& view = *shell.details().view();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.tree()->topLevelItemCount() > 0; }, 5000));
    EXPECT_TRUE(view.privacyLabel()->text().contains(QStringLiteral("camera, location, microphone")));
    EXPECT_TRUE(view.summaryLabel()->text().contains(QStringLiteral("Team ABCDE12345, hardened runtime")));
    EXPECT_TRUE(view.revealRow(QString::fromUtf8("Studio · arm64 · Signature"), QStringLiteral("Team ID")));
    EXPECT_EQ(view.selectedValuesText(), QStringLiteral("ABCDE12345"));
    // Executable, slice, signature: groups nest by their names.
    const QTreeWidgetItem* signature = view.tree()->currentItem()->parent();
    EXPECT_EQ(signature->text(0), QStringLiteral("Signature"));
    EXPECT_EQ(signature->parent()->text(0), QStringLiteral("arm64"));
    EXPECT_EQ(signature->parent()->parent()->text(0), QStringLiteral("Studio"));
    view.setFilter(QStringLiteral("@rpath"));
    view.tree()->clearSelection();
    view.tree()->topLevelItem(1)->setSelected(true);  // the executable: both slices' matching rows
    EXPECT_EQ(view.selectedValuesText(), QStringLiteral("load\nload"));
}

TEST(Details, CopyAValueARowOrTheSelectionAsJson) {
    Shown shown;
    shown.showDetails();
    ASSERT_TRUE(shown.view().revealRow(QStringLiteral("{Exif}"), QStringLiteral("Flash")));
    shown.view().copyValueAction()->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("Off, did not fire"));
    shown.view().copyRowAction()->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("Flash\tOff, did not fire\t16"));

    // A whole group selected: every row of it, in the tree's order.
    QTreeWidget* tree = shown.view().tree();
    tree->clearSelection();
    for (int g = 0; g < tree->topLevelItemCount(); ++g)
        if (tree->topLevelItem(g)->text(0) == QStringLiteral("{TIFF}")) tree->topLevelItem(g)->setSelected(true);
    shown.view().copyJsonAction()->trigger();
    const QJsonDocument json = QJsonDocument::fromJson(QApplication::clipboard()->text().toUtf8());
    ASSERT_TRUE(json.isArray());
    EXPECT_EQ(json.array().size(), 9);
    EXPECT_EQ(json.array().at(0).toObject().value(QStringLiteral("key")).toString(), QStringLiteral("DateTime"));
    EXPECT_EQ(json.array().at(0).toObject().value(QStringLiteral("group")).toString(), QStringLiteral("{TIFF}"));
}

TEST(Details, ExportsWriteWhatVeskInfoPrints) {
    Shown shown;
    const QString veskInfo = QStringLiteral(VESK_BINARY_DIR "/vesk-info");
    const QString json = q(shown.dir.file("out.json"));
    const QString text = q(shown.dir.file("out.txt"));
    // Enabled once the window has heard of the file on show.
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.pane().exportJsonAction()->isEnabled(); }, 2000));
    ASSERT_TRUE(shown.pane().exportJson(json));
    const QByteArray expectedJson = run(veskInfo, {QStringLiteral("--properties"), q(shown.path)});
    ASSERT_FALSE(expectedJson.isEmpty());
    EXPECT_EQ(readAll(json), expectedJson);

    ASSERT_TRUE(shown.pane().exportText(text));
    const QByteArray expectedText = run(veskInfo, {QStringLiteral("--fields"), q(shown.path)});
    ASSERT_FALSE(expectedText.isEmpty());
    EXPECT_EQ(readAll(text), expectedText);

    // A target that cannot be written is said, not passed over.
    EXPECT_FALSE(shown.pane().exportJson(q(shown.dir.file("no/such/folder/out.json"))));
    EXPECT_TRUE(shown.pane().statusText().startsWith(QStringLiteral("Could not write")));
}

// Both copies open in the window; a copy without location names no position
// in its privacy line, a copy without metadata nothing at all.
TEST(Details, ACleanCopyIsSavedOpenedAndSaid) {
    const std::string nikon = std::string(VESK_SOURCE_DIR) + "/samples/Nikon_COOLPIX_P6000_GPS.jpg";
    const struct {
        std::string sample;
        CleanLevel level;
        const char* status;
    } levels[] = {{nikon, CleanLevel::Location, "Saved a copy without location: "},
                  {nikon, CleanLevel::All, "Saved a copy without metadata: "},
                  {std::string(VESK_SOURCE_DIR) + "/samples/Apple_iPhone_11_Pro_Max.heic", CleanLevel::All,
                   "Saved a copy without metadata: "}};
    for (const auto& level : levels) {
        Shown shown(level.sample);
        QAction* action = level.level == CleanLevel::All ? shown.pane().cleanAllAction() : shown.pane().cleanLocationAction();
        ASSERT_TRUE(QTest::qWaitFor([&] { return action->isEnabled(); }, 2000));
        shown.showDetails();
        ASSERT_TRUE(shown.view().privacyLabel()->text().contains(QStringLiteral("GPS position")));
        const std::string copy = cleanCopyName(shown.path);
        ASSERT_TRUE(shown.pane().saveCleanCopy(level.level, q(copy)));
        ASSERT_TRUE(QTest::qWaitFor([&] { return shown.store->get(prefCurFilePath) == copy; }, 5000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.view().privacyLabel()->text().contains(QStringLiteral("GPS")); }, 5000));
        EXPECT_TRUE(shown.pane().statusText().startsWith(QString::fromUtf8(level.status)));
        if (level.level == CleanLevel::All) {
            EXPECT_TRUE(shown.view().privacyLabel()->text().contains(QStringLiteral("nothing about where or who")));
        }
        if (const char* shots = std::getenv("VESK_SHOT_DIR")) {
            shown.shell.window().grab().save(QString::fromUtf8(shots) + (level.level == CleanLevel::All ? "/all.png" : "/location.png"));
            for (QAction* top : shown.shell.window().menuBar()->actions())
                if (top->menu() && top->menu()->actions().contains(shown.pane().cleanAllAction())) {
                    top->menu()->popup(QPoint(0, 0));
                    top->menu()->grab().save(QString::fromUtf8(shots) + "/menu.png");
                    top->menu()->hide();
                }
        }
    }
}

TEST(Details, AFileChangedOnDiskIsReportedAgainAndAGoneOneIsSaid) {
    Shown shown;
    shown.showDetails();
    QPlainTextEdit* tiffField = shown.shell.window().infoField(q(prefTextViewString5));
    ASSERT_FALSE(tiffField->toPlainText().contains(QStringLiteral("Vesk Tester")));

    // exiftool writes a new file and renames it over the old one.
    ASSERT_EQ(QProcess::execute(QStringLiteral("exiftool"), {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                                                            QStringLiteral("-Artist=Vesk Tester"), q(shown.path)}),
              0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return tiffField->toPlainText().contains(QStringLiteral("Vesk Tester")); }, 3000));
    EXPECT_TRUE(shown.pane().statusText().contains(QStringLiteral("changed on disk"))) << shown.pane().statusText().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown.view().privacyLabel()->text().contains(QStringLiteral("artist")); },
                                3000));

    std::filesystem::rename(shown.path, shown.dir.file("moved.jpg"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return shown.pane().statusText().contains(QStringLiteral("deleted or moved")); }, 3000));
    // What it held stays on show.
    EXPECT_TRUE(tiffField->toPlainText().contains(QStringLiteral("Vesk Tester")));
}

// What one run leaves in its settings file, the next one finds: the window's
// size, the view chosen, and the last ten files shown, newest first, each once.
TEST(WindowState, SizeViewAndRecentFilesComeBackInTheNextRun) {
    ScratchDir settings;
    const vesk::test::ScopedEnv file("VESK_WINDOW_STATE_FILE", settings.file("window.plist"));
    std::string firstPath;
    {
        Shown first;
        firstPath = first.path;
        EXPECT_EQ(first.pane().stack()->currentIndex(), 0);  // nothing saved yet: the fields
        first.showDetails();
        first.shell.window().resize(700, 500);
        for (int i = 0; i < 12; ++i) first.shell.windowState().noteShown(settings.write(std::to_string(i) + ".jpg", "x"));
        first.shell.windowState().noteShown(settings.file("3.jpg"));
        first.shell.windowState().save();
    }
    Shown next;
    EXPECT_EQ(next.pane().stack()->currentIndex(), 1);
    // The remembered view comes back with its content, under the file row.
    EXPECT_TRUE(QTest::qWaitFor([&] { return next.view().tree()->topLevelItemCount() > 0; }, 5000));
    EXPECT_TRUE(next.shell.window().currentFileField()->isVisible());
    EXPECT_EQ(next.shell.window().size(), QSize(700, 500));
    const QStringList recent = next.shell.windowState().recentFiles();
    ASSERT_EQ(recent.size(), 10);
    EXPECT_EQ(recent.at(0), q(next.path));  // shown at this launch
    EXPECT_EQ(recent.at(1), q(settings.file("3.jpg")));
    EXPECT_EQ(recent.at(2), q(settings.file("11.jpg")));
    EXPECT_EQ(recent.count(q(settings.file("3.jpg"))), 1);
    EXPECT_FALSE(recent.contains(q(firstPath)));  // pushed out by the twelve after it

    // Picking an entry shows that file.
    const auto actions = next.shell.windowState().recentMenu()->actions();
    ASSERT_EQ(actions.size(), 10);
    std::filesystem::copy_file(kIphone, next.dir.file("again.jpg"));
    next.shell.windowState().noteShown(next.dir.file("again.jpg"));
    ASSERT_EQ(next.shell.windowState().recentMenu()->actions().at(0)->text(), q(next.dir.file("again.jpg")));
    next.shell.windowState().recentMenu()->actions().at(0)->trigger();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return next.store->get(prefCurFilePath) == next.dir.file("again.jpg"); }, 5000));

    // A file gone from the disk is no longer offered; a long path is cut in
    // the middle, whole in its tooltip.
    std::filesystem::remove(settings.file("3.jpg"));
    std::string folders = "deep";
    for (int i = 0; i < 8; ++i) folders += "/a folder with a long name";
    std::filesystem::create_directories(next.dir.path() / folders);
    const std::string deep = next.dir.file(folders);
    next.shell.windowState().noteShown(next.dir.write(folders + "/last.jpg", "x"));
    const auto offered = next.shell.windowState().recentMenu()->actions();
    EXPECT_FALSE(next.shell.windowState().recentFiles().contains(q(settings.file("3.jpg"))));
    ASSERT_FALSE(offered.isEmpty());
    EXPECT_TRUE(offered.at(0)->text().contains(QChar(0x2026)));
    EXPECT_TRUE(offered.at(0)->text().endsWith(QStringLiteral("last.jpg")));
    EXPECT_EQ(offered.at(0)->toolTip(), q(deep + "/last.jpg"));
}

// A settings file that is no small regular file is passed over: the window
// starts as on a first run, at once, and Quit replaces the file.
TEST(WindowState, SettingsThatAreNoSmallRegularFileArePassedOver) {
    struct Case {
        const char* what;
        std::function<bool(const std::string&)> make;
        bool replaced;
    };
    const std::vector<Case> cases = {
        {"a FIFO", [](const std::string& p) { return ::mkfifo(p.c_str(), 0600) == 0; }, true},
        {"300 MB (sparse)",
         [](const std::string& p) {
             std::ofstream(p) << "<plist>";
             return ::truncate(p.c_str(), 300 << 20) == 0;
         },
         true},
        {"junk", [](const std::string& p) { return std::filesystem::copy_file(kIphone, p); }, true},
        {"a folder", [](const std::string& p) { return std::filesystem::create_directory(p); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir settings;
        const std::string file = settings.file("window.plist");
        ASSERT_TRUE(c.make(file));
        const vesk::test::ScopedEnv env("VESK_WINDOW_STATE_FILE", file);
        const auto start = std::chrono::steady_clock::now();
        Shown shown;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(shown.pane().stack()->currentIndex(), 0);
        EXPECT_EQ(shown.shell.windowState().recentFiles(), QStringList{q(shown.path)});
        shown.shell.windowState().save();
        EXPECT_EQ(std::filesystem::is_regular_file(file), c.replaced);
        if (c.replaced) {
            EXPECT_LT(std::filesystem::file_size(file), 64u << 10);
        }
    }
}
