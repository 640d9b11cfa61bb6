#include "desktop/DoubleClickButton.h"

namespace vesk::desktop {

DoubleClickButton::DoubleClickButton(QWidget* parent) : QPushButton(parent) {}

}  // namespace vesk::desktop
