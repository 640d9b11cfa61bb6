// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/DoubleClickButton.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QStyleHints>

namespace vesk::desktop {

DoubleClickButton::DoubleClickButton(QWidget* parent) : QPushButton(parent) {}

void DoubleClickButton::attach(const platform::Log& log) {
    if (button_) return;
    button_.emplace(log);
    button_->setHost(this);
}

void DoubleClickButton::mousePressEvent(QMouseEvent* event) {
    // Other buttons are not mouse-downs; they neither count nor break a series.
    if (event->button() != Qt::LeftButton || !button_) {
        QPushButton::mousePressEvent(event);
        return;
    }
    const int number = clickNumber(*event);
    currentPress_ = event;
    button_->mouseDown(number);
    currentPress_ = nullptr;
}

int DoubleClickButton::clickNumber(const QMouseEvent& event) {
    const QStyleHints* hints = QGuiApplication::styleHints();
    const QPointF position = event.globalPosition();
    // Press to press, as Qt itself measures a double click, so a slow release
    // does not break the series.
    const bool inTime = lastClickNumber_ > 0 && event.timestamp() >= lastPressTime_ &&
                        event.timestamp() - lastPressTime_ < static_cast<quint64>(hints->mouseDoubleClickInterval());
    const bool inPlace = (position - lastPressPosition_).manhattanLength() < hints->mouseDoubleClickDistance();
    const bool continues = inTime && inPlace;

    int number = continues ? lastClickNumber_ + 1 : 1;
    // Qt has already judged this press the second of a series, by the same
    // hints; its verdict stands even when the timestamps disagree.
    if (event.type() == QEvent::MouseButtonDblClick && !continues) number = 2;

    lastClickNumber_ = number;
    lastPressTime_ = event.timestamp();
    lastPressPosition_ = position;
    return number;
}

void DoubleClickButton::baseMouseDown() {
    if (currentPress_) QPushButton::mousePressEvent(currentPress_);
}

std::string DoubleClickButton::windowDelegateDescription() const {
    return describeWindowDelegate_ ? describeWindowDelegate_() : std::string("(null)");
}

}  // namespace vesk::desktop
