// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>

#include "../TestSupport.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/TypeService.h"
#include "views/MyDragDropView.h"

using namespace vesk;
using namespace vesk::platform;
using vesk::test::ScratchDir;

namespace {

// Identifiers by script; conformance from the real table, plus extra pairs.
// Records the highlight flag as it stands at every conformance test.
class ScriptedTypes : public TypeService {
public:
    std::optional<std::string> typeOfFile(const std::string& path) const override {
        looked.push_back(path);
        const auto it = types.find(path);
        return it == types.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    bool conformsTo(const std::string& type, const std::string& parent) const override {
        if (view) flagAtTest.push_back(view->isHighlighted());
        return extra.count({type, parent}) || real.conformsTo(type, parent);
    }

    std::map<std::string, std::string> types;
    std::set<std::pair<std::string, std::string>> extra;
    const MyDragDropView* view = nullptr;
    mutable std::vector<std::string> looked;
    mutable std::vector<bool> flagAtTest;

private:
    FileTypeService real;
};

class RecordingHost : public ViewHost {
public:
    void registerForDraggedTypes(const std::vector<std::string>& t) override { registered.push_back(t); }
    void setNeedsDisplay(bool flag) override { redraws += flag ? 1 : 0; }
    std::vector<std::vector<std::string>> registered;
    int redraws = 0;
};

class RecordingDrawing : public DrawingContext {
public:
    void drawBase(const Rect& r) override { calls.push_back("base " + text(r)); }
    void setDefaultLineWidth(double w) override { calls.push_back("width " + std::to_string(w)); }
    void setColor(const Color& c) override {
        calls.push_back(c == Color::blueColor() ? "color blue" : "color other");
    }
    void strokeRect(const Rect& r) override { calls.push_back("stroke " + text(r)); }
    static std::string text(const Rect& r) {
        return std::to_string(int(r.x)) + "," + std::to_string(int(r.y)) + "," + std::to_string(int(r.width)) +
               "," + std::to_string(int(r.height));
    }
    std::vector<std::string> calls;
};

DraggingInfo filesDrag(std::vector<std::string> paths) {
    DraggingInfo d;
    d.pasteboard.types = {NSFilenamesPboardType};
    d.pasteboard.fileNames = std::move(paths);
    return d;
}

DraggingInfo textDrag(std::string text) {
    DraggingInfo d;
    d.pasteboard.types = {NSStringPboardType};
    d.pasteboard.itemsAsStrings = std::vector<std::string>{text};
    d.pasteboard.string = std::move(text);
    return d;
}

Value list(std::initializer_list<const char*> items) {
    Array a;
    for (const char* i : items) a.emplace_back(i);
    return Value(a);
}

class DropView : public ::testing::Test {
protected:
    void SetUp() override {
        types.types = {{"a.jpg", "public.jpeg"},       {"notes.txt", "public.plain-text"},
                       {"lib.dylib", "com.apple.mach-o-dylib"}, {"scan.tif", "public.tiff"},
                       {"pic.jp2", "public.jpeg-2000"}, {"Plugin.bundle", "com.apple.bundle"},
                       {"folder", "public.folder"}};
        types.view = &view;
        for (const char* name : {kAddFromFileNotification, kAddFromStringNotification})
            center.addObserver(this, name, [this](const Notification& n) { events.push_back(n); });
    }

    ScriptedTypes types;
    RecordingHost host;
    NotificationCenter center;
    CaptureLogSink log;
    DrainedQueue queue;
    Services services{std::make_shared<MemoryUserDefaults>(), center, queue, queue, types, Log(log)};
    MyDragDropView view{services, &host};
    std::vector<Notification> events;
};

}  // namespace

TEST_F(DropView, SetUpRegistersBothDragTypesOnceAndStartsUnhighlighted) {
    EXPECT_FALSE(view.isHighlighted());
    view.awakeFromNib();
    ASSERT_EQ(host.registered.size(), 1u);
    EXPECT_EQ(host.registered[0], (std::vector<std::string>{"NSFilenamesPboardType", "NSStringPboardType"}));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"[MyDragDropView awakeFromNib]"}));
}

TEST_F(DropView, ValidTypesAreTheFiveThenTodaysPhotosFreshAndInOrder) {
    auto first = view.validTypes();
    EXPECT_EQ(first, (std::vector<std::string>{"public.jpeg", "public.jpeg-2000", "public.tiff", "com.apple.bundle",
                                               "com.apple.mach-o-dylib", "public.heif", "public.avif",
                                               "public.jpeg-xl", "com.canon.cr3-raw-image", "public.png",
                                               "org.webmproject.webp", "com.compuserve.gif", "com.adobe.raw-image",
                                               "public.camera-raw-image"}));
    first.clear();
    EXPECT_EQ(view.validTypes().size(), 14u);
    EXPECT_TRUE(log.lines().empty());
}

// --- Drag entry ---

TEST_F(DropView, TextHighlightsWithoutLookingAtFiles) {
    DraggingInfo d = textDrag("hello");
    d.pasteboard.types.push_back(NSFilenamesPboardType);
    d.pasteboard.fileNames = std::vector<std::string>{"notes.txt"};
    EXPECT_EQ(view.draggingEntered(d), NSDragOperationEvery);
    EXPECT_TRUE(view.isHighlighted());
    EXPECT_EQ(host.redraws, 1);
    EXPECT_TRUE(types.looked.empty());
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"[MyDragDropView draggingEntered:]", "found NSStringPboardType ...",
                                                     "copiedItems = (\n    hello\n)"}));
}

TEST_F(DropView, EntryStopsAtTheFirstAcceptedPath) {
    EXPECT_EQ(view.draggingEntered(filesDrag({"a.jpg", "notes.txt", "lib.dylib"})), NSDragOperationEvery);
    EXPECT_TRUE(view.isHighlighted());
    EXPECT_EQ(host.redraws, 1);
    EXPECT_EQ(types.looked, (std::vector<std::string>{"a.jpg"}));
    EXPECT_EQ(types.flagAtTest.size(), 1u);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"[MyDragDropView draggingEntered:]", "found utiType = public.jpeg"}));
}

TEST_F(DropView, TiffClearsTheFlagAfterEachJpegEntryThenHighlights) {
    view.setIsHighlighted(true);
    view.draggingEntered(filesDrag({"scan.tif"}));
    // The flag as seen by each test: as it was, NO after the JPEG miss, NO after the JPEG 2000 miss.
    EXPECT_EQ(types.flagAtTest, (std::vector<bool>{true, false, false}));
    EXPECT_TRUE(view.isHighlighted());
    EXPECT_EQ(host.redraws, 1);
}

TEST_F(DropView, UnknownTypeClearsTheFlagAfterEveryEntryWithoutRedraw) {
    view.setIsHighlighted(true);
    EXPECT_EQ(view.draggingEntered(filesDrag({"notes.txt"})), NSDragOperationEvery);
    std::vector<bool> expected(view.validTypes().size(), false);
    expected.front() = true;
    EXPECT_EQ(types.flagAtTest, expected);
    EXPECT_FALSE(view.isHighlighted());
    EXPECT_EQ(host.redraws, 0);
    EXPECT_EQ(log.lines().back(), "found utiType = public.plain-text");
}

TEST_F(DropView, PathWithoutIdentifierIsLoggedAsNullAndRefused) {
    view.setIsHighlighted(true);
    view.draggingEntered(filesDrag({"vanished.jpg", "folder"}));
    EXPECT_FALSE(view.isHighlighted());
    EXPECT_EQ(host.redraws, 0);
    EXPECT_EQ(types.looked, (std::vector<std::string>{"vanished.jpg", "folder"}));
    EXPECT_EQ(log.lines()[1], "found utiType = (null)");
    EXPECT_EQ(log.lines()[2], "found utiType = public.folder");
}

TEST_F(DropView, EmptyOrMissingListLeavesTheFlagAlone) {
    view.setIsHighlighted(true);
    EXPECT_EQ(view.draggingEntered(filesDrag({})), NSDragOperationEvery);
    EXPECT_TRUE(view.isHighlighted());
    DraggingInfo noList = filesDrag({});
    noList.pasteboard.fileNames.reset();
    EXPECT_EQ(view.draggingEntered(noList), NSDragOperationEvery);
    EXPECT_TRUE(view.isHighlighted());
    EXPECT_EQ(host.redraws, 0);
    // Neither type offered: still every operation, nothing but the entry line.
    log.clear();
    EXPECT_EQ(view.draggingEntered(DraggingInfo{}), NSDragOperationEvery);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"[MyDragDropView draggingEntered:]"}));
}

TEST_F(DropView, ExitClearsAndReentryTestsAfresh) {
    view.draggingEntered(filesDrag({"a.jpg"}));
    view.draggingExited(DraggingInfo{});
    EXPECT_FALSE(view.isHighlighted());
    EXPECT_EQ(host.redraws, 2);
    EXPECT_EQ(log.lines().back(), "[MyDragDropView draggingExited:]");
    view.draggingEntered(filesDrag({"a.jpg"}));
    EXPECT_TRUE(view.isHighlighted());
    EXPECT_EQ(types.looked.size(), 2u);
}

TEST_F(DropView, DropIsAcceptedWhateverItCarries) {
    EXPECT_TRUE(view.prepareForDragOperation(DraggingInfo{}));
    EXPECT_TRUE(log.lines().empty());
    EXPECT_TRUE(view.performDragOperation(filesDrag({"notes.txt"})));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"[MyDragDropView performDragOperation:]"}));
    EXPECT_TRUE(types.looked.empty());
    EXPECT_TRUE(events.empty());
}

// --- Drag end ---

TEST_F(DropView, EndPostsAcceptedPathsInDragOrder) {
    view.setIsHighlighted(true);
    view.draggingEnded(filesDrag({"a.jpg", "notes.txt", "lib.dylib"}));
    EXPECT_FALSE(view.isHighlighted());
    EXPECT_EQ(host.redraws, 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, "VeskNotificationAddFromFile");
    EXPECT_EQ(events[0].object, list({"a.jpg", "lib.dylib"}));
    EXPECT_FALSE(events[0].userInfo);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "[MyDragDropView draggingEnded:]",
                               "pboad types = (\n    NSFilenamesPboardType\n)",
                               "found utiType = public.jpeg",
                               "found utiType = public.plain-text",
                               "found utiType = com.apple.mach-o-dylib",
                               "validitems = (\n    a.jpg,\n    lib.dylib\n)",
                           }));
}

TEST_F(DropView, DuplicatesStayAndMultipleMatchesCountOnce) {
    types.extra = {{"public.jpeg", "public.tiff"}, {"public.jpeg", "com.apple.bundle"}};
    view.draggingEnded(filesDrag({"a.jpg", "Plugin.bundle", "a.jpg", "pic.jp2"}));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].object, list({"a.jpg", "Plugin.bundle", "a.jpg", "pic.jp2"}));
}

TEST_F(DropView, EmptyListIsStillPosted) {
    view.draggingEnded(filesDrag({"notes.txt", "vanished.jpg", "folder"}));
    DraggingInfo noList = filesDrag({});
    noList.pasteboard.fileNames.reset();
    view.draggingEnded(noList);
    ASSERT_EQ(events.size(), 2u);
    for (const auto& e : events) {
        EXPECT_EQ(e.name, kAddFromFileNotification);
        EXPECT_EQ(e.object, Value(Array{}));
    }
    EXPECT_EQ(log.lines().back(), "validitems = " + describe(Value(Array{})));
}

TEST_F(DropView, TextLengthCountsUtf16UnitsNotBytesOrCodePoints) {
    // U+1F600 is two UTF-16 units, one code point, four bytes.
    const std::string sixteen = "fourteen chars" "\xF0\x9F\x98\x80";  // 16 units, 18 bytes
    const std::string seventeen = "fifteen chars.." "\xF0\x9F\x98\x80";  // 17 units, 16 code points
    view.draggingEnded(textDrag(sixteen));
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(log.lines().back(), "pboard info string is invalid = [" + sixteen + "]");

    view.draggingEnded(textDrag(seventeen));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, "VeskNotificationAddFromString");
    EXPECT_FALSE(events[0].object);
    ASSERT_TRUE(events[0].userInfo);
    EXPECT_EQ(*events[0].userInfo, (Dictionary{{"mystrings", Value(seventeen)}}));
}

TEST_F(DropView, MissingTextIsLoggedAsNull) {
    DraggingInfo d;
    d.pasteboard.types = {NSStringPboardType};
    view.draggingEnded(d);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(log.lines().back(), "pboard info string is invalid = [(null)]");
}

TEST_F(DropView, TextRuleRunsBeforeFileRule) {
    DraggingInfo d = filesDrag({"a.jpg"});
    d.pasteboard.types.push_back(NSStringPboardType);
    d.pasteboard.string = "a text long enough to be posted";
    std::vector<std::string> order;
    center.addObserver(&order, kAddFromFileNotification, [&](const Notification&) {
        order.push_back("file");
        // Subscribers run inside the handler, after the flag was cleared.
        EXPECT_FALSE(view.isHighlighted());
    });
    center.addObserver(&order, kAddFromStringNotification, [&](const Notification&) { order.push_back("string"); });
    view.setIsHighlighted(true);
    view.draggingEnded(d);
    EXPECT_EQ(order, (std::vector<std::string>{"string", "file"}));

    // A short text logs its line, and the file rule still follows.
    d.pasteboard.string = "short";
    log.clear();
    view.draggingEnded(d);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], "pboad types = (\n    NSFilenamesPboardType,\n    NSStringPboardType\n)");
    EXPECT_EQ(lines[2], "pboard info string is invalid = [short]");
    EXPECT_EQ(lines[3], "found utiType = public.jpeg");
    EXPECT_EQ(lines[4], "validitems = (\n    a.jpg\n)");
}

TEST_F(DropView, EndWithNeitherTypePostsNothing) {
    view.draggingEnded(DraggingInfo{});
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(log.lines().back(), "pboad types = " + describe(Value(Array{})));
}

// --- Drawing ---

TEST_F(DropView, RedrawWhileNotHighlightedDrawsOnlyTheBase) {
    RecordingDrawing drawing;
    view.drawRect({0, 0, 300, 200}, drawing);
    EXPECT_EQ(drawing.calls, (std::vector<std::string>{"base 0,0,300,200"}));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(DropView, HighlightedRedrawStrokesThePassedRectangleInBlue) {
    RecordingDrawing drawing;
    view.setIsHighlighted(true);
    view.drawRect({10, 20, 30, 40}, drawing);
    EXPECT_EQ(drawing.calls, (std::vector<std::string>{"base 10,20,30,40", "width 5.000000", "color blue",
                                                       "stroke 10,20,30,40"}));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"[MyDragDropView drawRect:] isHighlighted = YES"}));
}

// --- With the real type service on real files ---

TEST(DropViewOnFiles, JpegTextAndLibraryDrag) {
    ScratchDir dir;
    const auto a = dir.write("a.jpg", "\xFF\xD8\xFF");
    const auto notes = dir.write("notes.txt", "hello");
    const auto lib = dir.write("lib.dylib", "x");
    vesk::test::TestServices t;
    NotificationCenter& center = t.center;
    std::optional<Value> posted;
    center.addObserver(&posted, kAddFromFileNotification, [&](const Notification& n) { posted = n.object; });
    MyDragDropView view(t);
    view.draggingEntered(filesDrag({a, notes, lib}));
    EXPECT_TRUE(view.isHighlighted());
    view.draggingEnded(filesDrag({a, notes, lib}));
    EXPECT_EQ(posted, Value(Array{Value(a), Value(lib)}));
}

TEST(DropViewOnFiles, OddNamesAndVanishedPaths) {
    ScratchDir dir;
    const auto newline = dir.write("two\nlines.jpg", "x");
    const auto latin1 = dir.write("caf\xE9.tif", "x");  // not UTF-8
    std::filesystem::create_directories(dir.file("Plug.bundle"));
    vesk::test::TestServices t;
    NotificationCenter& center = t.center;
    std::optional<Value> posted;
    center.addObserver(&posted, kAddFromFileNotification, [&](const Notification& n) { posted = n.object; });
    MyDragDropView view(t);
    view.draggingEnded(filesDrag({newline, dir.file("gone.jpg"), latin1, dir.file("Plug.bundle"), dir.path().string()}));
    EXPECT_EQ(posted, Value(Array{Value(newline), Value(latin1), Value(dir.file("Plug.bundle"))}));
}

TEST(DropViewOnFiles, LargeDragsFinishPromptly) {
    ScratchDir dir;
    const auto a = dir.write("a.jpg", "x");
    std::vector<std::string> paths;
    for (int i = 0; i < 10000; ++i) paths.push_back(i % 1000 == 999 ? a : dir.file("gone" + std::to_string(i)));
    vesk::test::TestServices t;
    NotificationCenter& center = t.center;
    std::size_t count = 0;
    center.addObserver(&count, kAddFromFileNotification,
                       [&](const Notification& n) { count = n.object->get<Array>()->size(); });
    std::optional<std::string> text;
    center.addObserver(&count, kAddFromStringNotification,
                       [&](const Notification& n) { text = *n.userInfo->at("mystrings").get<std::string>(); });
    MyDragDropView view(t);
    const auto start = std::chrono::steady_clock::now();
    view.draggingEntered(filesDrag(paths));
    view.draggingEnded(filesDrag(paths));
    DraggingInfo big = textDrag(std::string(1 << 20, 'x'));
    view.draggingEnded(big);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(count, 10u);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size(), 1u << 20);
}
