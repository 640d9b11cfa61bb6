// SPDX-License-Identifier: GPL-3.0-or-later
// The push button that, besides its ordinary click behaviour, tells its
// delegate when it has been double-clicked. The toolkit's widget owns one and
// hands it every mouse press with its number within a multi-click series.
#pragma once

#include <memory>
#include <string>

#include "platform/Log.h"

namespace vesk {

class MyDoubleClickButton;

// What a button's delegate may offer. A delegate is free to leave
// ibHandleDoubleClick out; the button asks before calling it.
class DoubleClickDelegate {
public:
    virtual ~DoubleClickDelegate() = default;
    virtual bool respondsToHandleDoubleClick() const = 0;
    virtual void ibHandleDoubleClick(MyDoubleClickButton* sender) = 0;
};

// What the button needs of the widget and window it sits in.
class ButtonHost {
public:
    virtual ~ButtonHost() = default;
    // The toolkit's own press handling (highlight, click tracking), run to its end.
    virtual void baseMouseDown() = 0;
    // "%@" of the window's delegate; "(null)" when the window has none.
    virtual std::string windowDelegateDescription() const = 0;
};

class MyDoubleClickButton {
public:
    explicit MyDoubleClickButton(const platform::Log& log) : log_(log) {}
    MyDoubleClickButton(const MyDoubleClickButton&) = delete;
    MyDoubleClickButton& operator=(const MyDoubleClickButton&) = delete;

    // One mouse press; `clickCount` is its number within the series (1, 2, 3...).
    void mouseDown(int clickCount);

    // Weak: the button never keeps its delegate alive.
    std::shared_ptr<DoubleClickDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<DoubleClickDelegate> delegate) { delegate_ = std::move(delegate); }

    // Not owned; the widget that owns the button.
    void setHost(ButtonHost* host) { host_ = host; }

    // "%@" of the button: "<MyDoubleClickButton: 0x...>".
    std::string description() const;

private:
    platform::Log log_;
    std::weak_ptr<DoubleClickDelegate> delegate_;
    ButtonHost* host_ = nullptr;
};

}  // namespace vesk
