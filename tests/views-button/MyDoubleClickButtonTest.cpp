// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "../TestSupport.h"
#include "inspector/ViewController.h"
#include "platform/Log.h"
#include "views/MyDoubleClickButton.h"

using namespace vesk;
using namespace vesk::platform;

namespace {

// Logs its base handling, so the log shows what ran first.
class Host : public ButtonHost {
public:
    explicit Host(Log log) : log_(log) {}
    void baseMouseDown() override { log_.nslog("base"); }
    std::string windowDelegateDescription() const override { return "<AppDelegate: 0x1>"; }

private:
    Log log_;
};

class Delegate : public DoubleClickDelegate {
public:
    explicit Delegate(bool offers) : offers_(offers) {}
    bool respondsToHandleDoubleClick() const override { return offers_; }
    void ibHandleDoubleClick(MyDoubleClickButton* sender) override { senders.push_back(sender); }
    std::vector<MyDoubleClickButton*> senders;

private:
    bool offers_;
};

class DoubleClick : public ::testing::Test {
protected:
    void SetUp() override { button.setHost(&host); }
    void clicks(int count) {
        for (int i = 1; i <= count; ++i) button.mouseDown(i);
    }
    CaptureLogSink log;
    Host host{Log(log)};
    MyDoubleClickButton button{Log(log)};
};

const std::vector<std::string> kDoubleClickLines{"base", "base", "self.window.delegate = <AppDelegate: 0x1>",
                                                 "Double click!"};

}  // namespace

TEST_F(DoubleClick, ASingleClickOnlyRunsTheBaseHandling) {
    auto delegate = std::make_shared<Delegate>(true);
    button.setDelegate(delegate);
    clicks(1);
    EXPECT_TRUE(delegate->senders.empty());
    EXPECT_EQ(log.lines(), std::vector<std::string>{"base"});
}

TEST_F(DoubleClick, TheSecondClickCallsTheDelegateOnceWithTheButton) {
    auto delegate = std::make_shared<Delegate>(true);
    button.setDelegate(delegate);
    clicks(2);
    EXPECT_EQ(delegate->senders, std::vector<MyDoubleClickButton*>{&button});
    EXPECT_EQ(log.lines(), kDoubleClickLines);
}

TEST_F(DoubleClick, ATripleClickCallsTheDelegateOnlyForTheSecondClick) {
    auto delegate = std::make_shared<Delegate>(true);
    button.setDelegate(delegate);
    clicks(3);
    EXPECT_EQ(delegate->senders.size(), 1u);
    auto lines = kDoubleClickLines;
    lines.push_back("base");
    EXPECT_EQ(log.lines(), lines);
    // A new series starts at 1 again.
    clicks(2);
    EXPECT_EQ(delegate->senders.size(), 2u);
}

TEST_F(DoubleClick, ADelegateWithoutTheHandlerIsNotCalled) {
    auto delegate = std::make_shared<Delegate>(false);
    button.setDelegate(delegate);
    clicks(2);
    EXPECT_TRUE(delegate->senders.empty());
    EXPECT_EQ(log.lines(), kDoubleClickLines);
}

TEST_F(DoubleClick, WithoutADelegateBothLinesAreLoggedAndNothingElse) {
    clicks(2);
    EXPECT_EQ(log.lines(), kDoubleClickLines);
}

TEST_F(DoubleClick, TheButtonDoesNotKeepItsDelegateAlive) {
    auto delegate = std::make_shared<Delegate>(true);
    button.setDelegate(delegate);
    std::weak_ptr<Delegate> watch = delegate;
    delegate.reset();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(button.delegate(), nullptr);
    clicks(2);
    EXPECT_EQ(log.lines(), kDoubleClickLines);
}

TEST(DoubleClickWithoutHost, AWindowWithoutDelegateLogsNull) {
    CaptureLogSink log;
    MyDoubleClickButton button{Log(log)};
    button.mouseDown(2);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"self.window.delegate = (null)", "Double click!"}));
}

// The inspector's side.

TEST(DoubleClickWiring, ViewDidLoadMakesTheInspectorTheButtonsDelegate) {
    vesk::test::TestServices t;
    MyDoubleClickButton button(t.log);
    auto inspector = std::make_shared<ViewController>(t.services());
    inspector->setIbDoubleClickButton(&button);
    auto& log = t.startLog();
    inspector->viewDidLoad();
    EXPECT_EQ(log.lines().back(), "self.ibDoubleClickButton = " + button.description());
    EXPECT_EQ(button.delegate(), inspector);

    // The double click reaches the inspector with the button as sender; no
    // file on show, so it does nothing more.
    log.clear();
    button.mouseDown(1);
    button.mouseDown(2);
    EXPECT_EQ(log.lines().back(),
              inspector->description() + "->ibHandleDoubleClick:...sender=" + button.description());

    // The window outlives the inspector: the button's delegate reads as none.
    std::weak_ptr<ViewController> watch = inspector;
    inspector.reset();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(button.delegate(), nullptr);
}

TEST(DoubleClickWiring, WithoutAButtonTheWiringLogsNull) {
    vesk::test::TestServices t;
    auto inspector = std::make_shared<ViewController>(t.services());
    auto& log = t.startLog();
    inspector->viewDidLoad();
    EXPECT_EQ(log.lines().back(), "self.ibDoubleClickButton = (null)");
}
