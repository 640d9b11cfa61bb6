// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#include "../TestSupport.h"
#include "platform/Log.h"
#include "platform/Process.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"

using namespace vesk::platform;
using vesk::test::ScopedEnv;
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

using Seen = std::vector<std::pair<std::string, std::optional<std::string>>>;

// Counts the saves of a real file store.
class CountingFileStore : public FileUserDefaults {
public:
    using FileUserDefaults::FileUserDefaults;
    ~CountingFileStore() override = default;
    int saves = 0;

protected:
    void persist(const std::map<std::string, std::string>& values) override {
        ++saves;
        FileUserDefaults::persist(values);
    }
};

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
    {
        ScopedEnv override("VESK_DEFAULTS_FILE", "/x/override.plist");
        ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
        EXPECT_EQ(defaultsFilePath(), "/x/override.plist");
    }
    ScopedEnv noOverride("VESK_DEFAULTS_FILE", std::nullopt);
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
        EXPECT_EQ(defaultsFilePath(), "/cfg/vesk/defaults.plist");
    }
    {
        ScopedEnv relative("XDG_CONFIG_HOME", "cfg");  // not absolute: ignored
        EXPECT_EQ(defaultsFilePath(), "/home/someone/.config/vesk/defaults.plist");
    }
    ScopedEnv noXdg("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(defaultsFilePath(), "/home/someone/.config/vesk/defaults.plist");
}

// A report writes a whole batch; the file is written once for it, and bound
// fields still hear of every change, in order, on the writing thread.
TEST(UserDefaults, ABatchIsSavedOnceAndObservedChangeByChange) {
    ScratchDir dir;
    const std::string path = dir.file("vesk/defaults.plist");
    CountingFileStore store(path, quietLog());
    store.set("prefCurFilePath", "/old.jpg");
    store.set("prefTextViewString1", "old text");
    store.remove("prefTextViewString2");  // absent: nothing to save
    ASSERT_EQ(store.saves, 2);

    Seen seen;
    const auto caller = std::this_thread::get_id();
    bool otherThread = false;
    store.addObserver([&](const std::string& k, const std::optional<std::string>& v) {
        seen.emplace_back(k, v);
        otherThread |= std::this_thread::get_id() != caller;
        // Observers run after the batch has landed as a whole.
        EXPECT_EQ(store.get("prefTextViewString3"), "three");
    });
    store.apply({
        {"prefTextViewString1", std::nullopt},
        {"prefTextViewString2", std::nullopt},  // absent: no change, not told
        {"prefCurFilePath", std::nullopt},
        {"prefCurFilePath", "/new.jpg"},
        {"prefTextViewString1", ""},
        {"prefTextViewString3", "three"},
    });
    EXPECT_EQ(store.saves, 3);
    EXPECT_EQ(seen, (Seen{{"prefTextViewString1", std::nullopt},
                          {"prefCurFilePath", std::nullopt},
                          {"prefCurFilePath", "/new.jpg"},
                          {"prefTextViewString1", ""},
                          {"prefTextViewString3", "three"}}));
    EXPECT_FALSE(otherThread);

    // A batch that changes nothing neither saves nor tells anyone.
    store.apply({});
    store.apply({{"missing", std::nullopt}, {"also missing", std::nullopt}});
    EXPECT_EQ(store.saves, 3);
    EXPECT_EQ(seen.size(), 5u);

    const std::map<std::string, std::string> expected = {
        {"prefCurFilePath", "/new.jpg"}, {"prefTextViewString1", ""}, {"prefTextViewString3", "three"}};
    EXPECT_EQ(store.snapshot(), expected);
    EXPECT_EQ(FileUserDefaults(path, quietLog()).snapshot(), expected);
    EXPECT_EQ(filesIn(dir.path() / "vesk"), std::vector<std::string>{"defaults.plist"});

    // The memory store takes the same batches.
    MemoryUserDefaults memory;
    memory.apply({{"a", "1"}, {"b", "2"}, {"a", std::nullopt}});
    EXPECT_EQ(memory.snapshot(), (std::map<std::string, std::string>{{"b", "2"}}));
}

// Another thread sees a batch whole or not at all.
TEST(UserDefaults, ABatchIsSeenWholeFromOtherThreads) {
    MemoryUserDefaults store;
    store.apply({{"a", "0"}, {"b", "0"}});
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 1; i <= 2000; ++i) store.apply({{"a", std::to_string(i)}, {"b", std::to_string(i)}});
        done = true;
    });
    int mismatches = 0;
    while (!done) {
        const auto values = store.snapshot();
        mismatches += values.at("a") != values.at("b");
    }
    writer.join();
    EXPECT_EQ(mismatches, 0);
}

TEST(UserDefaults, SynchronizeFlushesOnlyWhatIsUnsynced) {
    ScratchDir dir;
    const std::string path = dir.file("vesk/defaults.plist");
    auto& log = storeLogSink();
    log.clear();
    {
        // A fresh store has nothing to flush and creates nothing.
        FileUserDefaults store(path, quietLog());
        store.synchronize();
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "vesk"));

        store.set("prefWindowTitle", "Vesk");
        store.synchronize();
        EXPECT_EQ(FileUserDefaults(path, quietLog()).get("prefWindowTitle"), "Vesk");

        // Synchronized already: the file is not even opened again.
        std::filesystem::remove(path);
        store.synchronize();
        EXPECT_TRUE(log.lines().empty());

        // An unsynced save is looked for, and a vanished file is reported.
        store.set("prefWindowTitle", "Vesk again");
        std::filesystem::remove(path);
        store.synchronize();
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_NE(log.lines()[0].find("defaults store not synchronized"), std::string::npos);
        store.set("prefWindowTitle", "Vesk at last");
    }  // the destructor synchronizes the last save
    EXPECT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(FileUserDefaults(path, quietLog()).get("prefWindowTitle"), "Vesk at last");

    MemoryUserDefaults memory;
    memory.set("k", "v");
    memory.synchronize();
    EXPECT_EQ(memory.get("k"), "v");
}

// A store reached through a symbolic link (managed dotfiles) is saved into
// the file the link leads to, and the link stays; a dangling link is written
// through when its target's folder exists, else replaced by the store.
TEST(UserDefaults, ALinkedStoreIsSavedIntoItsTarget) {
    namespace fs = std::filesystem;
    struct Case {
        const char* what;
        // Lays out the scratch folder; the store lives at "config/defaults.plist".
        std::function<void(const ScratchDir&)> lay;
        const char* savedAt;  // the file holding the store afterwards
        bool linkStays;
    };
    const auto link = [](const ScratchDir& d, const std::string& to, const std::string& at) {
        fs::create_directories(fs::path(d.file(at)).parent_path());
        fs::create_symlink(to, d.file(at));
    };
    const std::vector<Case> cases = {
        {"plain file", [](const ScratchDir& d) { d.write("config/defaults.plist", "<plist><dict/></plist>"); },
         "config/defaults.plist", false},
        {"absolute link",
         [&](const ScratchDir& d) {
             d.write("dotfiles/vesk.plist", "<plist><dict/></plist>");
             link(d, d.file("dotfiles/vesk.plist"), "config/defaults.plist");
         },
         "dotfiles/vesk.plist", true},
        {"relative link",
         [&](const ScratchDir& d) {
             d.write("dotfiles/vesk.plist", "<plist><dict/></plist>");
             link(d, "../dotfiles/vesk.plist", "config/defaults.plist");
         },
         "dotfiles/vesk.plist", true},
        {"chain of links",
         [&](const ScratchDir& d) {
             d.write("dotfiles/vesk.plist", "<plist><dict/></plist>");
             link(d, d.file("dotfiles/vesk.plist"), "stow/vesk.plist");
             link(d, "../stow/vesk.plist", "config/defaults.plist");
         },
         "dotfiles/vesk.plist", true},
        {"dangling, target folder exists",
         [&](const ScratchDir& d) {
             fs::create_directories(d.file("dotfiles"));
             link(d, "../dotfiles/vesk.plist", "config/defaults.plist");
         },
         "dotfiles/vesk.plist", true},
        {"dangling through a chain",
         [&](const ScratchDir& d) {
             fs::create_directories(d.file("dotfiles"));
             link(d, d.file("dotfiles/vesk.plist"), "stow/vesk.plist");
             link(d, d.file("stow/vesk.plist"), "config/defaults.plist");
         },
         "dotfiles/vesk.plist", true},
        {"dangling, no target folder",
         [&](const ScratchDir& d) { link(d, d.file("gone/vesk.plist"), "config/defaults.plist"); },
         "config/defaults.plist", false},
        {"loop",
         [&](const ScratchDir& d) {
             link(d, d.file("config/other.plist"), "config/defaults.plist");
             link(d, d.file("config/defaults.plist"), "config/other.plist");
         },
         "config/defaults.plist", false},
    };
    auto& log = storeLogSink();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        c.lay(dir);
        const std::string path = dir.file("config/defaults.plist");
        log.clear();
        {
            FileUserDefaults store(path, quietLog());
            store.set("prefWindowTitle", "Vesk");
            store.set("prefCurFilePath", "/a.jpg");
            store.synchronize();
        }
        EXPECT_TRUE(log.lines().empty()) << log.lines().front();
        EXPECT_EQ(fs::is_symlink(path), c.linkStays);
        EXPECT_FALSE(fs::is_symlink(dir.file(c.savedAt)));
        EXPECT_EQ(FileUserDefaults(dir.file(c.savedAt), quietLog()).get("prefCurFilePath"), "/a.jpg");
        EXPECT_EQ(FileUserDefaults(path, quietLog()).get("prefWindowTitle"), "Vesk");
        // No temporary file is left beside the target.
        for (const auto& name : filesIn(fs::path(dir.file(c.savedAt)).parent_path()))
            EXPECT_EQ(name.rfind(".vesk-write-", 0), std::string::npos) << name;
    }
}

// Values of every type under keys Vesk does not use (another program's, an older one's) outlive a
// save, and whatever text it is given the file stays XML that strict readers (other programs) take.
TEST(UserDefaults, KeepsEveryValueAndStaysWellFormedXml) {
    ScratchDir dir;
    const std::string path = dir.write("defaults.plist", R"(<plist><dict><key>prefWindowTitle</key><integer>7</integer>
<key>t</key><true/><key>f</key><false/><key>i</key><integer>-42</integer><key>m</key><integer>9223372036854775807</integer>
<key>r</key><real>0.1</real><key>d</key><date>1969-07-20T20:17:40Z</date><key>b</key><data>AP8=</data>
<key>l</key><array><dict><key>x</key><real>2.5</real></dict><array/></array></dict></plist>)");
    FileUserDefaults(path, quietLog()).set("prefWindowTitle", "Vesk");  // a text replaces an older Vesk's number
    EXPECT_EQ(dictionaryWithContentsOfFile(path), (Dictionary{{"prefWindowTitle", Value("Vesk")}, {"t", Value(true)},
        {"f", Value(false)}, {"i", Value(-42)}, {"m", Value(INT64_MAX)}, {"r", Value(0.1)}, {"d", Value(Date{-14182940})},
        {"b", Value(Data{0, 255})}, {"l", Value(Array{Value(Dictionary{{"x", Value(2.5)}}), Value(Array{})})}}));
    FileUserDefaults(path, quietLog())
        .apply({{"prefCurFilePath", std::string("/\0\x01\x1b\t\xEF\xBF\xBF", 8)}, {"\x02", ""}});
    EXPECT_TRUE(runCommand({"/usr/bin/xmllint", "--nonet", path})) << "(libxml2-utils)\n" << vesk::test::readFile(path);
}
