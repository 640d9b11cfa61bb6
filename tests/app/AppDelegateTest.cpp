// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "../TestSupport.h"
#include "app/AppDelegate.h"
#include "inspector/InfoKeys.h"
#include "platform/Log.h"

using namespace vesk;
using namespace vesk::platform;

TEST(VersionText, FormatsTheFourKeysInOrder) {
    Dictionary info{{"CFBundleName", Value("Viewer")},
                    {"CFBundleShortVersionString", Value("1.2")},
                    {"DTXcode", Value("941")},
                    {"DTSDKName", Value("macosx10.14")}};
    EXPECT_EQ(getAppVersionString(info), "Viewer - v1.2 (xc-941 sdk-macosx10.14)");
}

TEST(VersionText, MissingKeysReadNullAndFormatsStayLiteral) {
    Dictionary info{{"CFBundleName", Value("%@ %d %s")}, {"DTXcode", Value("1")}};
    EXPECT_EQ(getAppVersionString(info), "%@ %d %s - v(null) (xc-1 sdk-(null))");
}

TEST(VersionText, TheBuiltApplicationNamesItself) {
    const std::string text = getAppVersionString();
    EXPECT_EQ(text.rfind("Vesk - v", 0), 0u) << text;
    EXPECT_EQ(text.find("(null)"), std::string::npos) << text;
}

TEST(AppDelegate, LaunchWritesTheTitleAndOpenFilesPostsOneEvent) {
    auto store = std::make_shared<MemoryUserDefaults>();
    vesk::test::TestServices t(store);
    NotificationCenter& center = t.center;
    AppDelegate delegate(t.services());
    auto& log = t.startLog();
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(store->get(prefWindowTitle), getAppVersionString());
    EXPECT_EQ(log.lines().at(0), delegate.description() + "=applicationDidFinishLaunching:...");

    std::vector<Notification> events;
    center.addObserver(&events, kAddFromFileNotification, [&](const Notification& n) { events.push_back(n); });
    delegate.application(std::vector<std::string>{"/a.jpg", "/b.jpg"});
    delegate.application(std::vector<std::string>{});
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].object, Value(Array{Value("/a.jpg"), Value("/b.jpg")}));
    EXPECT_EQ(events[1].object, Value(Array{}));
    EXPECT_FALSE(events[0].userInfo);

    EXPECT_TRUE(delegate.application(std::string("/c.jpg")));
    EXPECT_EQ(events.size(), 2u);  // openFile: posts nothing
    delegate.openMyDocument();
    EXPECT_EQ(log.lines().back(), "openMyDocument:...");
    EXPECT_TRUE(delegate.applicationShouldTerminateAfterLastWindowClosed());
}
