// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/PathField.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace vesk::desktop {

namespace {

// QLineEdit keeps this much room between its contents rectangle and the text.
constexpr int kHorizontalMargin = 2;

}  // namespace

PathField::PathField(QWidget* parent) : QLineEdit(parent) {
    // Nothing can be typed here: the field takes the window's colour, as a
    // label would, so it does not look like a place to type a path.
    QPalette shade = palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive})
        shade.setColor(group, QPalette::Base, shade.color(group, QPalette::Window));
    setPalette(shade);
}

QRect PathField::textRect() const {
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    QRect r = style()->subElementRect(QStyle::SE_LineEditContents, &panel, this);
    r = r.marginsRemoved(textMargins());
    return r.adjusted(kHorizontalMargin, 0, -kHorizontalMargin, 0);
}

QString PathField::displayedText() const {
    // With the focus the field is a line to select in and scroll through.
    if (hasFocus() || text().isEmpty()) return text();
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, textRect().width());
}

void PathField::paintEvent(QPaintEvent* event) {
    const QString shown = displayedText();
    if (shown == text()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    painter.drawText(textRect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

}  // namespace vesk::desktop
