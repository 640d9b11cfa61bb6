// The window's double-click button. A plain push button for now; the
// double-click reporting comes with its own class later.
#pragma once

#include <QPushButton>

namespace vesk::desktop {

class DoubleClickButton : public QPushButton {
    Q_OBJECT
public:
    explicit DoubleClickButton(QWidget* parent = nullptr);
};

}  // namespace vesk::desktop
