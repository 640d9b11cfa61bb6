// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "../TestSupport.h"
#include "inspector/InfoKeys.h"
#include "inspector/ViewController.h"
#include "platform/Formats.h"
#include "platform/Log.h"

using namespace vesk;
namespace test = vesk::test;
using namespace vesk::platform;
using vesk::test::ScratchDir;

namespace {

// Stands in for the window's dialog: remembers how it was set up and lets the
// test close it with any result.
class ScriptedPanel : public OpenPanel {
public:
    void setTitle(const std::string& t) override { title = t; }
    void setAllowedFileTypes(const std::vector<std::string>& types) override { allowedTypes = types; }
    void beginSheetModal(Completion c) override {
        ++shown;
        completion = std::move(c);
    }
    void close(int result, std::vector<std::string> paths) {
        auto c = std::move(completion);
        c(result, std::move(paths));
    }

    std::string title;
    std::vector<std::string> allowedTypes;
    int shown = 0;
    Completion completion;
};

class Window : public WindowHost {
public:
    std::string firstResponderDescription() const override { return "(null)"; }
    std::shared_ptr<OpenPanel> makeOpenPanel() override { return panel = std::make_shared<ScriptedPanel>(); }
    std::shared_ptr<ScriptedPanel> panel;
};

struct Seen {
    std::thread::id thread;
    std::optional<Value> object;
};

class OpenDocument : public ::testing::Test {
protected:
    void SetUp() override {
        t.drainMainQueue();
        inspector = std::make_shared<ViewController>(t.services());
        inspector->setWindowHost(&window);
        inspector->viewDidLoad();
        center.addObserver(this, kAddFromFileNotification, [this](const Notification& note) {
            std::lock_guard lock(mutex);
            events.push_back({std::this_thread::get_id(), note.object});
        });
        store->addObserver([this](const std::string& key, const std::optional<std::string>&) {
            std::lock_guard lock(mutex);
            if (key == prefCurFilePath) reportThreads.push_back(std::this_thread::get_id());
        });
    }
    void TearDown() override {
        t.globalQueue.waitIdle();
        t.drainMainQueue();
        center.removeObserver(this);
    }

    ScratchDir dir;
    Window window;
    std::shared_ptr<MemoryUserDefaults> store = std::make_shared<MemoryUserDefaults>();
    test::TestServices t{store};
    NotificationCenter& center = t.center;
    std::shared_ptr<ViewController> inspector;
    std::mutex mutex;
    std::vector<Seen> events;
    std::vector<std::thread::id> reportThreads;
};

}  // namespace

TEST_F(OpenDocument, ThePanelAsksForOneFileOfWhatVeskReadsAndReturnsAtOnce) {
    auto& log = t.startLog();
    inspector->openDocument();
    ASSERT_TRUE(window.panel);
    EXPECT_EQ(window.panel->shown, 1);
    EXPECT_EQ(window.panel->title, "Select a File to Inspect");
    // Every extension of the table of formats, in its order: JPEG's first.
    EXPECT_EQ(window.panel->allowedTypes, platform::formatExtensions());
    EXPECT_EQ(std::vector<std::string>(window.panel->allowedTypes.begin(), window.panel->allowedTypes.begin() + 4),
              (std::vector<std::string>{"jpg", "jpeg", "jpe", "jfif"}));
    EXPECT_EQ(log.lines(), std::vector<std::string>{inspector->description() + "->openDocument:..."});
    EXPECT_TRUE(events.empty());
}

TEST_F(OpenDocument, OkPostsOneFileUrlFromABackgroundThreadAndTheImageReportRunsOnTheMainQueue) {
    const auto image = dir.write("chosen photo.jpg", "not really a jpeg");
    inspector->openDocument();
    window.panel->close(OpenPanel::kOKResult, {image});
    t.globalQueue.waitIdle();

    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].thread, std::this_thread::get_id());
    EXPECT_EQ(events[0].object, Value(Array{Value(Url{image})}));
    // Routing ran on that thread and queued the image report for the main queue.
    EXPECT_TRUE(reportThreads.empty());
    EXPECT_EQ(t.mainQueue.pending(), 1u);

    t.drainMainQueue();  // this thread plays the main thread
    EXPECT_EQ(store->get(prefCurFilePath), image);
    EXPECT_EQ(reportThreads, std::vector<std::thread::id>{std::this_thread::get_id()});
}

TEST_F(OpenDocument, ALibraryChosenThereIsReportedOnTheBackgroundThread) {
    const auto lib = dir.write("chosen.dylib", "x");
    inspector->openDocument();
    window.panel->close(OpenPanel::kOKResult, {lib});
    t.globalQueue.waitIdle();
    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(reportThreads.size(), 1u);
    EXPECT_EQ(reportThreads[0], events[0].thread);
    EXPECT_EQ(t.mainQueue.pending(), 0u);
}

TEST_F(OpenDocument, CancelPostsNothing) {
    const auto image = dir.write("a.jpg", "x");
    for (int result : {0, -1, 2}) {
        inspector->openDocument();
        window.panel->close(result, {image});
    }
    t.globalQueue.waitIdle();
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(t.mainQueue.pending(), 0u);
}

TEST_F(OpenDocument, WithoutAWindowPanelOnlyTheEntryIsLogged) {
    inspector->setWindowHost(nullptr);
    auto& log = t.startLog();
    inspector->openDocument();
    EXPECT_EQ(log.lines().size(), 1u);
}
