#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "../TestSupport.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"

using namespace vesk::platform;
using vesk::test::ScratchDir;

namespace {

CaptureLogSink& storeLogSink() {
    static CaptureLogSink sink;
    return sink;
}
const Log& quietLog() {
    static const Log log(storeLogSink());
    return log;
}

std::vector<std::string> filesIn(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(UserDefaults, SetGetRemoveAndObservers) {
    MemoryUserDefaults store;
    std::vector<std::pair<std::string, std::optional<std::string>>> seen;
    const int token = store.addObserver([&](const std::string& k, const std::optional<std::string>& v) {
        seen.emplace_back(k, v);
    });
    EXPECT_FALSE(store.get("k"));
    store.set("k", "one");
    store.set("k", "");
    EXPECT_EQ(store.get("k"), "");  // the empty text is a value, not nothing
    store.remove("k");
    store.remove("k");  // removing nothing changes nothing and tells nobody
    EXPECT_FALSE(store.get("k"));
    store.removeObserver(token);
    store.set("k", "unseen");
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].second, "one");
    EXPECT_EQ(seen[1].second, "");
    EXPECT_EQ(seen[2].second, std::nullopt);
}

TEST(UserDefaults, PersistsAcrossInstancesAsAnXmlPropertyList) {
    ScratchDir dir;
    const std::string path = dir.file("nested/vesk/defaults.plist");
    {
        FileUserDefaults store(path, quietLog());
        store.set("prefWindowTitle", "Vesk - v1 \"quoted\" <&>");
        store.set("prefCurFilePath", "/a b/c.jpg");
        store.remove("prefCurFilePath");
    }
    const std::string xml = vesk::test::readFile(path);
    EXPECT_NE(xml.find("<plist"), std::string::npos);
    FileUserDefaults again(path, quietLog());
    EXPECT_EQ(again.get("prefWindowTitle"), "Vesk - v1 \"quoted\" <&>");
    EXPECT_FALSE(again.get("prefCurFilePath"));
    // Nothing but the store itself is left in its folder: no temporary files.
    EXPECT_EQ(filesIn(dir.path() / "nested/vesk"), std::vector<std::string>{"defaults.plist"});
    EXPECT_EQ(std::filesystem::status(dir.path() / "nested").permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
}

TEST(UserDefaults, AnUnreadableStoreIsSetAsideNotLost) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"truncated", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key><str"},
        {"not a property list", "hello, world"},
        {"list root", "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>a</string></array></plist>"},
        {"empty file", ""},
    };
    for (const auto& [what, content] : cases) {
        SCOPED_TRACE(what);
        ScratchDir dir;
        const std::string path = dir.write("defaults.plist", content);
        auto& log = storeLogSink();
        log.clear();
        FileUserDefaults store(path, quietLog());
        EXPECT_TRUE(store.snapshot().empty());
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_NE(log.lines()[0].find("moved aside"), std::string::npos);
        auto names = filesIn(dir.path());
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(names[0].rfind("defaults.plist.corrupt-", 0), 0u);
        EXPECT_EQ(vesk::test::readFile(dir.file(names[0])), content);
        store.set("k", "v");  // a new store file beside the one set aside
        EXPECT_EQ(filesIn(dir.path()).size(), 2u);
        EXPECT_EQ(FileUserDefaults(path, quietLog()).get("k"), "v");
    }
}

TEST(UserDefaults, WritesFromSeveralThreadsAllLand) {
    ScratchDir dir;
    FileUserDefaults store(dir.file("defaults.plist"), quietLog());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) store.set("key" + std::to_string(t), std::to_string(i));
        });
    for (auto& t : threads) t.join();
    FileUserDefaults again(dir.file("defaults.plist"), quietLog());
    for (int t = 0; t < 4; ++t) EXPECT_EQ(again.get("key" + std::to_string(t)), "19");
}

TEST(UserDefaults, StorePathFollowsTheOverrideThenXdg) {
    const char* savedOverride = std::getenv("VESK_DEFAULTS_FILE");
    const std::string keep = savedOverride ? savedOverride : "";
    setenv("VESK_DEFAULTS_FILE", "/x/override.plist", 1);
    EXPECT_EQ(defaultsFilePath(), "/x/override.plist");
    unsetenv("VESK_DEFAULTS_FILE");
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(defaultsFilePath(), "/cfg/vesk/defaults.plist");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(defaultsFilePath(), "/home/someone/.config/vesk/defaults.plist");
    if (savedOverride) setenv("VESK_DEFAULTS_FILE", keep.c_str(), 1);
}
