// SPDX-License-Identifier: GPL-3.0-or-later
// The main queue of the window: tasks run on the Qt event loop of the thread
// that created the queue, in the order they were queued, from any thread.
#pragma once

#include <QObject>

#include "platform/Dispatch.h"

namespace vesk::desktop {

class QtMainQueue : public platform::Queue {
public:
    QtMainQueue() = default;
    // Tasks still waiting when the queue goes are dropped, not run.
    void async(Task task) override;

private:
    QObject receiver_;
};

}  // namespace vesk::desktop
