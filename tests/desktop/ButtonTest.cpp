// SPDX-License-Identifier: GPL-3.0-or-later
// The window's button under real QTest clicks on the offscreen platform: the
// clicks go through Qt's own window-system path, so Qt judges double clicks
// by its interval and distance just as it does for a real mouse.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QStyleHints>
#include <QTest>
#include <QWindow>
#include <algorithm>
#include <filesystem>

#include "DesktopSupport.h"
#include "../runner/RunnerSupport.h"
#include "desktop/ApplicationShell.h"
#include "desktop/DoubleClickButton.h"
#include "desktop/MainWindow.h"
#include "inspector/InfoKeys.h"
#include "platform/Log.h"

using namespace vesk;
using namespace vesk::desktop;
using vesk::test::ScratchDir;

namespace {

class RecordingDelegate : public DoubleClickDelegate {
public:
    explicit RecordingDelegate(bool responds = true) : responds_(responds) {}
    bool respondsToHandleDoubleClick() const override { return responds_; }
    void ibHandleDoubleClick(MyDoubleClickButton* sender) override { senders.push_back(sender); }
    std::vector<MyDoubleClickButton*> senders;

private:
    bool responds_;
};

long countLines(const std::vector<std::string>& lines, const std::string& text) {
    return std::count(lines.begin(), lines.end(), text);
}

// Presses and releases the button through its window. QTest moves its clock
// 500 ms on after every release so separate calls never pair up; taking that
// back lets consecutive calls form one series, as a quick hand would.
class Clicker {
public:
    explicit Clicker(QWidget* target) : target_(target) {}
    void click(QPoint offset = {}, Qt::MouseButton button = Qt::LeftButton, int delay = -1) {
        QTest::mouseClick(window(), button, {}, at(offset), delay);
        QTest::lastMouseTimestamp -= QTest::mouseDoubleClickInterval;
    }
    void doubleClick() {
        QTest::mouseDClick(window(), Qt::LeftButton, {}, at({}));
        QTest::lastMouseTimestamp -= QTest::mouseDoubleClickInterval;
    }
    // Ends the series for whatever comes next.
    static void pause() { QTest::lastMouseTimestamp += 10 * QTest::mouseDoubleClickInterval; }

private:
    QWindow* window() const { return target_->window()->windowHandle(); }
    QPoint at(QPoint offset) const { return target_->mapTo(target_->window(), target_->rect().center() + offset); }
    QWidget* target_;
};

class ButtonClicks : public ::testing::Test {
protected:
    void SetUp() override {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        button()->attach(platform::Log(log));
        button()->button().setDelegate(delegate);
        Clicker::pause();
    }
    void TearDown() override { Clicker::pause(); }
    DoubleClickButton* button() const { return window.doubleClickButton(); }

    MainWindow window;
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    Clicker clicker{window.doubleClickButton()};
    platform::CaptureLogSink log;
};

}  // namespace

TEST_F(ButtonClicks, SingleClickIsAnOrdinaryClickAndCallsNoDelegate) {
    QSignalSpy clicked(button(), &QPushButton::clicked);
    clicker.click();
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_TRUE(delegate->senders.empty());
    EXPECT_EQ(countLines(log.lines(), "Double click!"), 0);
}

TEST_F(ButtonClicks, DoubleClickCallsTheDelegateOnceWithTheButton) {
    QSignalSpy clicked(button(), &QPushButton::clicked);
    clicker.doubleClick();
    ASSERT_EQ(delegate->senders.size(), 1u);
    EXPECT_EQ(delegate->senders[0], &button()->button());
    // Both presses are still ordinary clicks of the push button.
    EXPECT_EQ(clicked.count(), 2);
    const auto lines = log.lines();
    EXPECT_EQ(countLines(lines, "self.window.delegate = (null)"), 1);
    EXPECT_EQ(countLines(lines, "Double click!"), 1);
}

TEST_F(ButtonClicks, TripleAndQuadrupleClicksCallTheDelegateOnce) {
    clicker.doubleClick();
    clicker.click();
    EXPECT_EQ(delegate->senders.size(), 1u);
    Clicker::pause();

    // Qt reports the fourth press as a double click of its own; it is still
    // the fourth of the series.
    delegate->senders.clear();
    clicker.doubleClick();
    clicker.doubleClick();
    EXPECT_EQ(delegate->senders.size(), 1u);
    EXPECT_EQ(countLines(log.lines(), "Double click!"), 2);
}

TEST_F(ButtonClicks, ClicksTooSlowOrTooFarApartAreNoSeries) {
    const QStyleHints* hints = QGuiApplication::styleHints();
    clicker.click();
    clicker.click({}, Qt::LeftButton, hints->mouseDoubleClickInterval() + 50);
    EXPECT_TRUE(delegate->senders.empty());
    Clicker::pause();

    const int far = hints->mouseDoubleClickDistance() + 10;
    ASSERT_LT(far, button()->width() / 2);
    clicker.click({-far / 2, 0});
    clicker.click({far / 2, 0});
    EXPECT_TRUE(delegate->senders.empty());
    Clicker::pause();

    // Just within both, they are.
    clicker.click();
    clicker.click({1, 0}, Qt::LeftButton, hints->mouseDoubleClickInterval() - 50);
    EXPECT_EQ(delegate->senders.size(), 1u);
}

TEST_F(ButtonClicks, OtherMouseButtonsAreNoMouseDowns) {
    clicker.click({}, Qt::RightButton);
    clicker.click({}, Qt::RightButton);
    clicker.click({}, Qt::MiddleButton);
    clicker.click();  // the first left press after them
    EXPECT_TRUE(delegate->senders.empty());
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(ButtonClicks, DelegateWithoutTheMethodIsNotCalled) {
    auto without = std::make_shared<RecordingDelegate>(false);
    button()->button().setDelegate(without);
    clicker.doubleClick();
    EXPECT_TRUE(without->senders.empty());
    EXPECT_EQ(countLines(log.lines(), "Double click!"), 1);
}

TEST_F(ButtonClicks, DelegateGoneOnlyLogs) {
    delegate.reset();
    EXPECT_EQ(button()->button().delegate(), nullptr);
    clicker.doubleClick();
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "self.window.delegate = (null)");
    EXPECT_EQ(lines[1], "Double click!");
}

// The whole way: the inspector shows a photo, a double click reveals its folder.
TEST(ButtonInWindow, IsTheInspectorsOutletAndRevealsTheFolderOfTheFileOnShow) {
    ScratchDir dir;
    std::filesystem::create_directory(dir.path() / "a b $(x)");
    const std::string photo = (dir.path() / "a b $(x)" / "photo.jpg").string();
    std::filesystem::copy_file(std::string(VESK_SOURCE_DIR) + "/samples/Canon_DIGITAL_IXUS_400.jpg", photo);
    const std::string record = dir.file("record");

    auto store = std::make_shared<platform::MemoryUserDefaults>();

    vesk::test::DesktopServices s(store);
    auto& log = s.startLog();
    ApplicationShell shell(s);
    shell.launch();
    DoubleClickButton* button = shell.window().doubleClickButton();
    EXPECT_EQ(shell.viewController().ibDoubleClickButton(), &button->button());
    EXPECT_EQ(button->button().delegate().get(), &shell.viewController());
    const auto lines = log.lines();
    const auto wired = std::find(lines.begin(), lines.end(),
                                 "self.ibDoubleClickButton = " + button->button().description());
    ASSERT_NE(wired, lines.end());
    // The last step of viewDidLoad.
    EXPECT_NE(std::find_if(lines.begin(), wired,
                           [](const std::string& l) { return l.starts_with("self.view.window.firstResponder = "); }),
              wired);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shell.window()));

    shell.viewController().setOpenToolPath(test::writeRecordingTool(dir, "open-tool", record));
    shell.viewController().performGetImageInfo(photo);
    Clicker::pause();
    Clicker clicker(button);
    clicker.doubleClick();
    clicker.click();
    Clicker::pause();

    // The opener runs on a thread of its own; its line comes when it ends.
    ASSERT_TRUE(test::waitForReveals(log));
    const auto calls = test::readRecord(record);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], std::vector<std::string>{(dir.path() / "a b $(x)").string()});
    const auto after = log.lines();
    EXPECT_EQ(countLines(after, "self.window.delegate = " + shell.delegate().description()), 1);
    EXPECT_EQ(countLines(after, "returnstring = recorded\n"), 1);
}
