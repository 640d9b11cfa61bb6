// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "../TestSupport.h"
#include "inspector/InfoKeys.h"
#include "inspector/ViewController.h"
#include "platform/Log.h"

using namespace vesk;
namespace test = vesk::test;
using namespace vesk::platform;
using vesk::test::ScratchDir;

namespace {

class Routing : public ::testing::Test {
protected:
    void SetUp() override {
        t.drainMainQueue();
        inspector = std::make_shared<ViewController>(t.services());
        inspector->viewDidLoad();
        token = store->addObserver([this](const std::string& key, const std::optional<std::string>& value) {
            changes.push_back(key + (value ? "=" + *value : " removed"));
        });
    }
    void TearDown() override { t.drainMainQueue(); }

    void post(std::optional<Value> object) { center.post(kAddFromFileNotification, std::move(object)); }
    static Value list(std::initializer_list<Value> items) { return Value(Array(items)); }

    ScratchDir dir;
    std::shared_ptr<MemoryUserDefaults> store = std::make_shared<MemoryUserDefaults>();
    test::TestServices t{store};
    NotificationCenter& center = t.center;
    std::shared_ptr<ViewController> inspector;
    std::vector<std::string> changes;
    int token = 0;
};

}  // namespace

TEST_F(Routing, OnlyTheFirstOfSeveralImagesIsReported) {
    const auto a = dir.write("a.jpg", "x"), b = dir.write("b.jpg", "x"), c = dir.write("c.jpg", "x");
    post(list({Value(a), Value(b), Value(c)}));
    EXPECT_EQ(t.drainMainQueue(), 1u);
    EXPECT_EQ(store->get(prefCurFilePath), a);
}

TEST_F(Routing, BundleAndLibraryNamesRouteAtOnceIgnoringCase) {
    const auto bundle = dir.write("UPPER.BUNDLE", "not a bundle");
    post(list({Value(bundle)}));
    // Reported on the posting thread, before post() returned: nothing queued.
    EXPECT_EQ(t.mainQueue.pending(), 0u);
    EXPECT_EQ(store->get(prefCurFilePath), bundle);
    EXPECT_EQ(store->get(prefTextViewString1), "");

    const auto dylib = dir.write("lib.DyLib", "x");
    post(list({Value(dylib)}));
    EXPECT_EQ(t.mainQueue.pending(), 0u);
    EXPECT_EQ(store->get(prefCurFilePath), dylib);
}

TEST_F(Routing, AFileUrlRoutesByItsPath) {
    const auto image = dir.write("photo.jpg", "x");
    post(list({Value(Url{image})}));
    t.drainMainQueue();
    EXPECT_EQ(store->get(prefCurFilePath), image);
}

TEST_F(Routing, OtherNamesGoToTheImageReportOnTheMainQueueAfterTheHandlerReturns) {
    for (const std::string name : {"notes.txt", "no-extension", "ends-in-dot."}) {
        SCOPED_TRACE(name);
        const auto path = dir.write(name, "plain words");
        changes.clear();
        post(list({Value(path)}));
        EXPECT_TRUE(changes.empty());  // the handler returned before the report ran
        EXPECT_EQ(t.mainQueue.pending(), 1u);
        t.drainMainQueue();
        EXPECT_EQ(store->get(prefCurFilePath), path);
    }
}

TEST_F(Routing, QueuedReportKeepsTheControllerAlive) {
    const auto path = dir.write("a.jpg", "x");
    post(list({Value(path)}));
    inspector.reset();  // the window goes away before the queued report runs
    EXPECT_EQ(center.observerCount(), 1u);
    t.drainMainQueue();
    EXPECT_EQ(store->get(prefCurFilePath), path);
    EXPECT_EQ(center.observerCount(), 0u);  // dealloc ended the subscription
}

TEST_F(Routing, EventsWithoutAUsableListChangeNothing) {
    store->set(prefCurFilePath, "/before");
    changes.clear();
    auto& log = t.startLog();
    post(std::nullopt);
    post(Value("/not/a/list.jpg"));
    post(list({}));
    post(list({Value(42)}));
    t.drainMainQueue();
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(store->get(prefCurFilePath), "/before");
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Inside " + inspector->description() +
                            " => handleAddFromFileNotification:... notification.object = (null)");
}

TEST_F(Routing, AMissingFileChangesNothingAndLogsNothingBeyondTheEvent) {
    store->set(prefTextViewString2, "previous");
    changes.clear();
    auto& log = t.startLog();
    post(list({Value(dir.file("gone.jpg"))}));
    post(list({Value(dir.file("gone.bundle"))}));
    post(list({Value(dir.file("gone.dylib"))}));
    t.drainMainQueue();
    inspector->performGetImageInfo(std::nullopt);
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(log.lines().size(), 3u);
}

TEST_F(Routing, ClearingRemovesTheSixFieldsThenThePathAndNeverTheTitle) {
    store->set(prefWindowTitle, "Vesk");
    for (const char* key : kReportKeys) store->set(key, "old");
    changes.clear();
    inspector->clearInfo();
    EXPECT_EQ(changes, (std::vector<std::string>{
                           "prefTextViewString1 removed", "prefTextViewString2 removed", "prefTextViewString3 removed",
                           "prefTextViewString4 removed", "prefTextViewString5 removed", "prefTextViewString6 removed",
                           "prefCurFilePath removed"}));
    EXPECT_EQ(store->get(prefWindowTitle), "Vesk");
    changes.clear();
    inspector->clearInfo();  // already empty: fine, nothing to tell
    EXPECT_TRUE(changes.empty());
}

TEST_F(Routing, ViewDidLoadStartsFromAnEmptyStore) {
    for (const char* key : kReportKeys) store->set(key, "left over");
    store->set(prefWindowTitle, "title");
    test::TestServices other(store);
    auto fresh = std::make_shared<ViewController>(other.services());
    fresh->viewDidLoad();
    for (const char* key : kReportKeys) EXPECT_FALSE(store->get(key)) << key;
    EXPECT_EQ(store->get(prefWindowTitle), "title");
}

TEST_F(Routing, ASecondReportClearsTheFirstOnesFields) {
    const auto lib = dir.write("a.dylib", "x");
    store->set(prefTextViewString4, "from an earlier image");
    post(list({Value(lib)}));
    EXPECT_FALSE(store->get(prefTextViewString4));
    const auto folder = dir.path() / "x.bundle";
    std::filesystem::create_directory(folder);
    changes.clear();
    post(list({Value(folder.string())}));
    EXPECT_EQ(changes.front(), "prefTextViewString1 removed");
    EXPECT_EQ(store->get(prefCurFilePath), folder.string());
}

TEST_F(Routing, EventsPostedFromAnotherThreadAreRoutedThere) {
    const auto lib = dir.write("t.dylib", "x");
    std::thread::id reportedOn;
    store->addObserver([&](const std::string& key, const std::optional<std::string>&) {
        if (key == prefCurFilePath) reportedOn = std::this_thread::get_id();
    });
    std::thread::id poster;
    std::thread worker([&] {
        poster = std::this_thread::get_id();
        post(list({Value(lib)}));
    });
    worker.join();
    EXPECT_EQ(reportedOn, poster);
}

namespace {
// Counts the saves a file store would make.
class CountingStore : public MemoryUserDefaults {
public:
    int saves = 0;

protected:
    void persist(const std::map<std::string, std::string>&) override { ++saves; }
};
}  // namespace

TEST(RoutingSaves, EachReportSavesTheStoreOnceOrTwiceForALibrary) {
    ScratchDir dir;
    std::filesystem::create_directory(dir.path() / "x.bundle");
    const struct {
        std::string path;
        int saves;  // a library's path is saved before `file` runs, its text after
    } cases[] = {
        {std::string(VESK_SOURCE_DIR) + "/samples/Apple_iPhone_6.jpg", 1},
        {dir.write("notes.txt", "no image"), 1},
        {(dir.path() / "x.bundle").string(), 1},
        {dir.write("lib.dylib", "x"), 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        auto store = std::make_shared<CountingStore>();
        test::TestServices t(store);
        auto inspector = std::make_shared<ViewController>(t.services());
        inspector->viewDidLoad();
        store->set(prefTextViewString3, "from the last report");
        store->saves = 0;
        t.center.post(kAddFromFileNotification, Value(Array{Value(c.path)}));
        t.drainMainQueue();
        EXPECT_EQ(store->saves, c.saves);
        EXPECT_EQ(store->get(prefCurFilePath), c.path);
        EXPECT_FALSE(store->get(prefTextViewString3) && *store->get(prefTextViewString3) == "from the last report");
    }
}
