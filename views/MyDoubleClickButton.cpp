// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/MyDoubleClickButton.h"

#include "platform/Log.h"

namespace vesk {

void MyDoubleClickButton::mouseDown(int clickCount) {
    if (host_) host_->baseMouseDown();
    // Only the second press of a series: a triple click reaches the delegate once.
    if (clickCount != 2) return;
    log_.nslog("self.window.delegate = %@", {host_ ? host_->windowDelegateDescription() : std::string("(null)")});
    log_.nslog("Double click!");
    if (const auto target = delegate(); target && target->respondsToHandleDoubleClick())
        target->ibHandleDoubleClick(this);
}

std::string MyDoubleClickButton::description() const {
    return platform::objectDescription("MyDoubleClickButton", this);
}

}  // namespace vesk
