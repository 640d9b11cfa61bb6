// SPDX-License-Identifier: GPL-3.0-or-later
// A ring around the widget that has the keyboard focus: the style's own
// focus frame on text fields and the tree is hard to see, and the keyboard
// is the way through the window for some people.
#pragma once

#include <QPointer>
#include <QWidget>

namespace vesk::desktop {

class FocusRing : public QWidget {
    Q_OBJECT
public:
    // Follows the focus among `window`'s widgets; the window owns the ring.
    explicit FocusRing(QWidget* window);

    // The widget ringed, or nullptr when the focus is elsewhere.
    QWidget* ringed() const { return target_; }

    static constexpr int kWidth = 2;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void follow(QWidget* focus);
    void place();

    QPointer<QWidget> target_;
};

}  // namespace vesk::desktop
