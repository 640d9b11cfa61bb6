// SPDX-License-Identifier: GPL-3.0-or-later
// The window's double-click button: a push button that keeps its ordinary
// click behaviour and hands every press, with its number within a
// multi-click series, to MyDoubleClickButton.
#pragma once

#include <QPointF>
#include <QPushButton>
#include <functional>
#include <optional>
#include <string>

#include "views/MyDoubleClickButton.h"

class QMouseEvent;

namespace vesk::desktop {

class DoubleClickButton : public QPushButton, private vesk::ButtonHost {
    Q_OBJECT
public:
    // Built by the window's layout; its presses reach the button logic once attached.
    explicit DoubleClickButton(QWidget* parent = nullptr);
    // Makes the button logic, which logs on `log`, once.
    void attach(const platform::Log& log);

    // The attached button logic.
    vesk::MyDoubleClickButton& button() { return *button_; }

    // "%@" of the window's delegate, asked at each double click; "(null)" until set.
    void setWindowDelegateDescription(std::function<std::string()> describe) {
        describeWindowDelegate_ = std::move(describe);
    }

protected:
    // Qt hands the second press of a series to mouseDoubleClickEvent, which
    // passes it on to mousePressEvent like any other press.
    void mousePressEvent(QMouseEvent* event) override;

private:
    void baseMouseDown() override;
    std::string windowDelegateDescription() const override;
    int clickNumber(const QMouseEvent& event);

    std::optional<vesk::MyDoubleClickButton> button_;
    std::function<std::string()> describeWindowDelegate_;
    QMouseEvent* currentPress_ = nullptr;
    // The last left press, for counting the series.
    int lastClickNumber_ = 0;
    quint64 lastPressTime_ = 0;
    QPointF lastPressPosition_;
};

}  // namespace vesk::desktop
