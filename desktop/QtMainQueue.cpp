// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/QtMainQueue.h"

namespace vesk::desktop {

void QtMainQueue::async(Task task) {
    // A queued call is a posted event, so the task runs on the receiver's
    // thread even when async() is called from the receiver's thread itself.
    QMetaObject::invokeMethod(&receiver_, std::move(task), Qt::QueuedConnection);
}

}  // namespace vesk::desktop
