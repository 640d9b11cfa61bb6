#include "desktop/DropArea.h"

#include <QPainter>
#include <QPainterPath>

namespace vesk::desktop {

DropArea::DropArea(QWidget* parent) : QFrame(parent) {
    setMinimumHeight(84);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(tr("Drop area"));
}

QSize DropArea::sizeHint() const { return {640, 96}; }

void DropArea::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();

    const QRectF box = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    QPainterPath outline;
    outline.addRoundedRect(box, 10, 10);
    painter.fillPath(outline, pal.color(QPalette::Base));
    QPen pen(pal.color(QPalette::Mid), 1.5, Qt::DashLine);
    pen.setDashPattern({6, 4});
    painter.setPen(pen);
    painter.drawPath(outline);

    QFont title = font();
    title.setPointSizeF(title.pointSizeF() * 1.35);
    QFont hint = font();
    const QFontMetrics titleMetrics(title), hintMetrics(hint);
    const int gap = 6;
    const int blockHeight = titleMetrics.height() + gap + hintMetrics.height();
    const int top = (height() - blockHeight) / 2;

    painter.setFont(title);
    painter.setPen(pal.color(QPalette::Text));
    painter.drawText(QRect(0, top, width(), titleMetrics.height()), Qt::AlignCenter,
                     tr("Drop a photo, a .bundle or a .dylib here"));
    painter.setFont(hint);
    painter.setPen(pal.color(QPalette::PlaceholderText));
    painter.drawText(QRect(0, top + titleMetrics.height() + gap, width(), hintMetrics.height()), Qt::AlignCenter,
                     tr("Images show their metadata, bundles their architectures, libraries their description \u2014 or choose File \u2192 Open\u2026"));
}

}  // namespace vesk::desktop
