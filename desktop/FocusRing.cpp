// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/FocusRing.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>

namespace vesk::desktop {

FocusRing::FocusRing(QWidget* window) : QWidget(window) {
    setObjectName(QStringLiteral("focusRing"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { follow(now); });
}

void FocusRing::follow(QWidget* focus) {
    if (target_) target_->removeEventFilter(this);
    // Only the window's own widgets that take typed keys; a button's focus
    // is drawn by the style well enough.
    const bool ringable = focus && focus != this && focus->window() == window() &&
                          focus->focusPolicy() != Qt::NoFocus && !focus->inherits("QAbstractButton");
    target_ = ringable ? focus : nullptr;
    if (!target_) {
        hide();
        return;
    }
    target_->installEventFilter(this);
    place();
}

void FocusRing::place() {
    if (!target_ || !target_->isVisible()) {
        hide();
        return;
    }
    const QRect area(target_->mapTo(window(), QPoint(0, 0)), target_->size());
    setGeometry(area.adjusted(-kWidth, -kWidth, kWidth, kWidth));
    show();
    raise();
    update();
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event) {
    if (watched == target_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
                               event->type() == QEvent::Show || event->type() == QEvent::Hide))
        place();
    return QWidget::eventFilter(watched, event);
}

void FocusRing::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QPen pen(palette().color(QPalette::Highlight), kWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect()).adjusted(kWidth / 2.0, kWidth / 2.0, -kWidth / 2.0, -kWidth / 2.0));
}

}  // namespace vesk::desktop
