// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>

#include <chrono>
#include <functional>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <filesystem>

#include "../TestSupport.h"
#include "desktop/DropArea.h"
#include "inspector/InfoKeys.h"
#include "inspector/ViewController.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

using namespace vesk;
using namespace vesk::platform;
using vesk::test::ScratchDir;
using vesk::desktop::DropArea;

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "droparea_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};
const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Counts the paints a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

QUrl fileUrl(const std::string& path) {
    return QUrl(QStringLiteral("file://") +
                QString::fromLatin1(QByteArray(path.data(), qsizetype(path.size())).toPercentEncoding("/")));
}

std::unique_ptr<QMimeData> filesMime(const std::vector<std::string>& paths) {
    auto mime = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const auto& p : paths) urls.append(fileUrl(p));
    mime->setUrls(urls);
    return mime;
}

bool isBlue(QRgb c) { return qBlue(c) > 200 && qRed(c) < 60 && qGreen(c) < 60; }

class DropAreaTest : public ::testing::Test {
protected:
    void SetUp() override {
        area.attach(t);
        area.resize(360, 160);
        area.show();
        area.installEventFilter(&counter);
        QApplication::processEvents();
        t.center.addObserver(this, kAddFromFileNotification, [this](const Notification& n) {
            fileEvents.push_back(n.object ? *n.object : Value());
        });
    }
    void TearDown() override { t.center.removeObserver(this); }

    bool enter(const QMimeData& mime, Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction) {
        QDragEnterEvent e(QPoint(50, 50), actions, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&area, &e);
        lastAction = e.dropAction();
        return e.isAccepted();
    }
    void leave() {
        QDragLeaveEvent e;
        QApplication::sendEvent(&area, &e);
    }
    // Qt delivers a drop only to the widget the drag entered.
    bool drop(const QMimeData& mime) {
        QDropEvent e(QPointF(50, 50), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&area, &e);
        const bool accepted = e.isAccepted();
        QApplication::processEvents();  // the intake runs after the drop returns
        return accepted;
    }

    ScratchDir dir;
    std::shared_ptr<MemoryUserDefaults> store = std::make_shared<MemoryUserDefaults>();
    vesk::test::TestServices t{store};
    DropArea area;
    PaintCounter counter;
    std::vector<Value> fileEvents;
    Qt::DropAction lastAction = Qt::IgnoreAction;
};

}  // namespace

TEST_F(DropAreaTest, AcceptsDropsFromTheStart) { EXPECT_TRUE(area.acceptDrops()); }

TEST_F(DropAreaTest, EnteringWithAPhotoHighlightsAndRepaints) {
    const auto photo = dir.write("a.jpg", "\xFF\xD8\xFF");
    const auto mime = filesMime({photo});
    const int before = counter.paints;
    auto& log = t.startLog();
    EXPECT_TRUE(enter(*mime));
    EXPECT_EQ(lastAction, Qt::CopyAction);  // the proposed action is answered
    EXPECT_TRUE(area.dragDropView().isHighlighted());
    QTRY_VERIFY_WITH_TIMEOUT(counter.paints > before, 2000);
    EXPECT_EQ(log.lines().back(), "[MyDragDropView drawRect:] isHighlighted = YES");

    const QImage shot = area.grab().toImage();
    EXPECT_TRUE(isBlue(shot.pixel(1, shot.height() / 2)));
    EXPECT_TRUE(isBlue(shot.pixel(shot.width() / 2, shot.height() - 2)));
    EXPECT_FALSE(isBlue(shot.pixel(shot.width() / 2, 20)));
    ASSERT_TRUE(shot.save(QStringLiteral(VESK_SCREENSHOT_PATH)));
}

// The outline keeps its blue and stays visible, 3:1 at least against the
// area's fill (WCAG's contrast), in a light and in a dark palette.
TEST_F(DropAreaTest, TheOutlineStaysVisibleOnLightAndDarkPalettes) {
    const auto lum = [](QColor c) {
        const auto ch = [](double x) { return x <= 0.03928 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4); };
        return 0.2126 * ch(c.redF()) + 0.7152 * ch(c.greenF()) + 0.0722 * ch(c.blueF()) + 0.05;
    };
    const QPalette before = area.palette();
    for (const QColor base : {QColor(Qt::white), QColor(0x2A, 0x2A, 0x2A)}) {
        QPalette palette = before;
        palette.setColor(QPalette::Base, base);
        area.setPalette(palette);
        enter(*filesMime({dir.write("a.jpg", "\xFF\xD8\xFF")}));
        const QImage shot = area.grab().toImage();
        const int y = shot.height() / 2;
        EXPECT_TRUE(isBlue(shot.pixel(1, y)));
        const double fill = lum(shot.pixelColor(shot.width() / 2, y));
        double best = 0;
        for (int x = 0; x < 10; ++x) best = std::max({best, lum(shot.pixelColor(x, y)) / fill, fill / lum(shot.pixelColor(x, y))});
        EXPECT_GE(best, 3.0) << base.name().toStdString();
        leave();
    }
    area.setPalette(before);
}

TEST_F(DropAreaTest, LeavingClearsTheOutline) {
    const auto mime = filesMime({dir.write("a.jpg", "x")});
    enter(*mime);
    const int before = counter.paints;
    leave();
    EXPECT_FALSE(area.dragDropView().isHighlighted());
    QTRY_VERIFY_WITH_TIMEOUT(counter.paints > before, 2000);
    const QImage shot = area.grab().toImage();
    EXPECT_FALSE(isBlue(shot.pixel(1, shot.height() / 2)));
    EXPECT_TRUE(fileEvents.empty());
}

TEST_F(DropAreaTest, UnacceptableFilesAreStillTakenButNotHighlighted) {
    const auto mime = filesMime({dir.write("notes.txt", "hello")});
    EXPECT_TRUE(enter(*mime));
    EXPECT_FALSE(area.dragDropView().isHighlighted());
    EXPECT_TRUE(drop(*mime));
    ASSERT_EQ(fileEvents.size(), 1u);
    EXPECT_EQ(fileEvents[0], Value(Array{}));
}

TEST_F(DropAreaTest, DropPostsAcceptedPathsInOrder) {
    const auto a = dir.write("a.jpg", "x");
    const auto notes = dir.write("notes.txt", "x");
    const auto lib = dir.write("lib.dylib", "x");
    const auto mime = filesMime({a, notes, lib, a});
    enter(*mime);
    auto& log = t.startLog();
    EXPECT_TRUE(drop(*mime));
    EXPECT_FALSE(area.dragDropView().isHighlighted());
    ASSERT_EQ(fileEvents.size(), 1u);
    EXPECT_EQ(fileEvents[0], Value(Array{Value(a), Value(lib), Value(a)}));
    const auto lines = log.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[MyDragDropView performDragOperation:]");
    EXPECT_EQ(lines[1], "[MyDragDropView draggingEnded:]");
}

TEST_F(DropAreaTest, DroppedSamplePhotoReachesTheInspector) {
    auto inspector = std::make_shared<ViewController>(t.services());
    inspector->viewDidLoad();
    const std::string sample = std::string(VESK_SOURCE_DIR) + "/samples/Canon_DIGITAL_IXUS_400.jpg";
    ASSERT_TRUE(std::filesystem::exists(sample));
    const auto mime = filesMime({sample});
    EXPECT_TRUE(enter(*mime));
    EXPECT_TRUE(drop(*mime));
    t.drainMainQueue();
    EXPECT_EQ(store->get(prefCurFilePath), sample);
    inspector.reset();
}

TEST_F(DropAreaTest, OnlyRegisteredKindsOfDragReachTheView) {
    QMimeData mime;
    mime.setData(QStringLiteral("image/png"), QByteArray("\x89PNG"));
    auto& log = t.startLog();
    EXPECT_FALSE(enter(mime));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(DropAreaTest, TextDragHighlights) {
    QMimeData mime;
    mime.setText(QStringLiteral("a dragged sentence of some length"));
    EXPECT_TRUE(enter(mime));
    EXPECT_TRUE(area.dragDropView().isHighlighted());
    std::optional<Dictionary> info;
    t.center.addObserver(&info, kAddFromStringNotification,
                                                    [&](const Notification& n) { info = n.userInfo; });
    drop(mime);
    t.center.removeObserver(&info);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->at("mystrings"), Value("a dragged sentence of some length"));
    EXPECT_TRUE(fileEvents.empty());
}

TEST(DropAreaPasteboard, LocalFilesBecomeTheFileListAndTextTheText) {
    QMimeData mime;
    mime.setUrls({QUrl(QStringLiteral("file:///tmp/a.jpg")), QUrl(QStringLiteral("https://example.com/b.jpg")),
                  QUrl(QStringLiteral("smb://server/share/c.jpg")), QUrl(QStringLiteral("file://otherhost/d.jpg")),
                  QUrl(QStringLiteral("file://localhost/tmp/e.jpg"))});
    auto pb = DropArea::pasteboardFromMimeData(&mime);
    // A list of URLs is not text, whatever QMimeData::hasText says of it.
    EXPECT_EQ(pb.types, (std::vector<std::string>{NSFilenamesPboardType}));
    ASSERT_TRUE(pb.fileNames);
    EXPECT_EQ(*pb.fileNames, (std::vector<std::string>{"/tmp/a.jpg", "/tmp/e.jpg"}));
    ASSERT_TRUE(pb.itemsAsStrings);
    EXPECT_EQ(pb.itemsAsStrings->size(), 5u);

    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://example.com/b.jpg"))});
    EXPECT_TRUE(DropArea::pasteboardFromMimeData(&web).types.empty());

    mime.setText(QStringLiteral("caf\u00e9"));
    pb = DropArea::pasteboardFromMimeData(&mime);
    EXPECT_TRUE(pb.containsType(NSStringPboardType));
    EXPECT_EQ(pb.stringForType(NSPasteboardTypeString), "caf\xC3\xA9");
    EXPECT_TRUE(DropArea::pasteboardFromMimeData(nullptr).types.empty());
}

TEST(DropAreaPasteboard, NamesKeepTheirExactBytes) {
    QMimeData mime;
    mime.setData(QStringLiteral("text/uri-list"),
                 QByteArray("file:///tmp/caf%E9.jpg\r\nfile:///tmp/two%0Alines.jpg\r\nfile:///tmp/sp%20ace.jpg\r\n"));
    const auto pb = DropArea::pasteboardFromMimeData(&mime);
    ASSERT_TRUE(pb.fileNames);
    EXPECT_EQ(*pb.fileNames,
              (std::vector<std::string>{"/tmp/caf\xE9.jpg", "/tmp/two\nlines.jpg", "/tmp/sp ace.jpg"}));
}

TEST_F(DropAreaTest, OddNamesOnDiskAreAccepted) {
    const auto latin1 = dir.write("caf\xE9.jpg", "x");
    const auto newline = dir.write("two\nlines.tif", "x");
    const auto mime = filesMime({latin1, newline, dir.file("vanished.jpg")});
    EXPECT_TRUE(enter(*mime));
    EXPECT_TRUE(drop(*mime));
    ASSERT_EQ(fileEvents.size(), 1u);
    EXPECT_EQ(fileEvents[0], Value(Array{Value(latin1), Value(newline)}));
}

TEST_F(DropAreaTest, HugeDragsDoNotHang) {
    std::vector<std::string> paths;
    const auto a = dir.write("a.jpg", "x");
    for (int i = 0; i < 10000; ++i) paths.push_back(i == 9999 ? a : dir.file("gone-" + std::to_string(i) + ".jpg"));
    const auto mime = filesMime(paths);
    // Each handler runs on the GUI thread: none may hold it for half a second.
    const auto within = [](auto&& step) {
        const auto start = std::chrono::steady_clock::now();
        step();
        return std::chrono::steady_clock::now() - start < std::chrono::milliseconds(500);
    };
    EXPECT_TRUE(within([&] { EXPECT_TRUE(enter(*mime)); }));
    EXPECT_TRUE(area.dragDropView().isHighlighted());
    EXPECT_TRUE(within([&] { EXPECT_TRUE(drop(*mime)); }));
    ASSERT_EQ(fileEvents.size(), 1u);
    EXPECT_EQ(fileEvents[0], Value(Array{Value(a)}));

    QMimeData text;
    text.setText(QString(1 << 20, QLatin1Char('x')));
    EXPECT_TRUE(within([&] { EXPECT_TRUE(enter(text)); }));
    EXPECT_TRUE(within([&] { EXPECT_TRUE(drop(text)); }));
}

// File managers put the dragged files beside their file lists as text too
// (for programs that only take text). Each shape below is how one of them
// offers a drag of one file; such a drag highlights only for a file the drop
// area accepts, and posts no string-add event.
namespace {

struct FileManagerShape {
    const char* name;
    // The MIME data it offers for a drag of `path`.
    std::function<std::unique_ptr<QMimeData>(const std::string& path)> make;
};

QByteArray uriOf(const std::string& path) { return fileUrl(path).toEncoded(); }

const FileManagerShape kShapes[] = {
    {"GNOME Files",
     [](const std::string& path) {
         auto mime = std::make_unique<QMimeData>();
         mime->setData("text/uri-list", uriOf(path) + "\r\n");
         mime->setData("x-special/gnome-icon-list", uriOf(path) + "\r10:20:64:64\r\n");
         mime->setData("x-special/gnome-copied-files", "copy\n" + uriOf(path));
         mime->setData("text/plain;charset=utf-8", uriOf(path) + "\r\n");
         mime->setData("text/plain", uriOf(path) + "\r\n");
         return mime;
     }},
    {"Dolphin",
     [](const std::string& path) {
         auto mime = std::make_unique<QMimeData>();
         mime->setData("text/uri-list", uriOf(path) + "\r\n");
         mime->setData("application/x-kde4-urilist", uriOf(path) + "\r\n");
         // KDE writes the URL for people to read: not escaped.
         mime->setData("text/plain", QByteArray("file://") + QByteArray::fromStdString(path));
         return mime;
     }},
    {"Thunar and PCManFM",
     [](const std::string& path) {
         auto mime = std::make_unique<QMimeData>();
         mime->setData("text/uri-list", uriOf(path) + "\r\n");
         mime->setData("application/x-fmlist-ptr", QByteArray(8, '\0'));
         mime->setData("text/plain", QByteArray::fromStdString(path) + "\n");
         return mime;
     }},
};

}  // namespace

TEST_F(DropAreaTest, FileDragsShapedAsFileManagersShapeThemHighlightOnlyForAcceptedFiles) {
    const auto notes = dir.write("My Notes (draft).txt", "plain words, long enough to be a sentence");
    const auto photo = dir.write("Holiday photo.jpg", "\xFF\xD8\xFF");
    for (const auto& shape : kShapes) {
        SCOPED_TRACE(shape.name);
        for (const auto& [path, accepted] : {std::pair{notes, false}, std::pair{photo, true}}) {
            SCOPED_TRACE(path);
            const auto mime = shape.make(path);
            // What the drop logic is offered: the file, not a text.
            const auto pb = DropArea::pasteboardFromMimeData(mime.get());
            EXPECT_EQ(pb.types, std::vector<std::string>{NSFilenamesPboardType});
            ASSERT_TRUE(pb.fileNames);
            EXPECT_EQ(*pb.fileNames, std::vector<std::string>{path});

            leave();
            EXPECT_TRUE(enter(*mime));
            EXPECT_EQ(area.dragDropView().isHighlighted(), accepted);

            std::optional<Dictionary> text;
            t.center.addObserver(&text, kAddFromStringNotification, [&](const Notification& n) { text = n.userInfo; });
            fileEvents.clear();
            EXPECT_TRUE(drop(*mime));
            t.center.removeObserver(&text);
            EXPECT_FALSE(text);
            ASSERT_EQ(fileEvents.size(), 1u);
            EXPECT_EQ(fileEvents[0], accepted ? Value(Array{Value(path)}) : Value(Array{}));
        }
    }
}

// A dragged sentence is still a dragged text, even from a file manager's
// window and beside a file list: the text rule highlights it and posts it.
TEST_F(DropAreaTest, ADraggedSentenceBesideAFileListStillFollowsTheTextRule) {
    const auto notes = dir.write("notes.txt", "x");
    QMimeData mime;
    mime.setData("text/uri-list", uriOf(notes) + "\r\n");
    mime.setData("text/plain", "a dragged sentence of some length");
    const auto pb = DropArea::pasteboardFromMimeData(&mime);
    EXPECT_EQ(pb.types, (std::vector<std::string>{NSFilenamesPboardType, NSStringPboardType}));
    EXPECT_TRUE(enter(mime));
    EXPECT_TRUE(area.dragDropView().isHighlighted());

    // Text that names the dragged file and more is more than the file list.
    QMimeData more;
    more.setData("text/uri-list", uriOf(notes) + "\r\n");
    more.setData("text/plain", QByteArray::fromStdString(notes) + "\n/somewhere/else.txt\n");
    EXPECT_TRUE(DropArea::pasteboardFromMimeData(&more).containsType(NSStringPboardType));

    // GNOME's own list alone still brings the file.
    QMimeData gnomeOnly;
    gnomeOnly.setData("x-special/gnome-copied-files", "copy\n" + uriOf(notes));
    gnomeOnly.setData("text/plain", "x-special/nautilus-clipboard\ncopy\n" + uriOf(notes) + "\n");
    const auto fromGnome = DropArea::pasteboardFromMimeData(&gnomeOnly);
    EXPECT_EQ(fromGnome.types, std::vector<std::string>{NSFilenamesPboardType});
    EXPECT_EQ(fromGnome.fileNames, std::vector<std::string>{notes});
}
