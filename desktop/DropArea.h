// The band at the top of the window where files are dropped. For now it only
// invites the drop; the drag handling lives in its own class later.
#pragma once

#include <QFrame>

namespace vesk::desktop {

class DropArea : public QFrame {
    Q_OBJECT
public:
    explicit DropArea(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace vesk::desktop
