// SPDX-License-Identifier: GPL-3.0-or-later
// What the system's objects are handed instead of reaching for globals: the
// info store, the notification centre, the two queues, the type service and
// the log. Each main builds one set and passes it down; tests build their own.
// The services must outlive every object they are handed to.
#pragma once

#include <memory>

#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/TypeService.h"
#include "platform/UserDefaults.h"

namespace vesk::platform {

struct Services {
    std::shared_ptr<UserDefaults> store;
    NotificationCenter& center;
    // Where image reports run: the Qt event loop in the window, a drained queue elsewhere.
    Queue& mainQueue;
    // dispatch_get_global_queue(0, 0): where the Open panel's choice is routed.
    Queue& globalQueue;
    const TypeService& types;
    Log log;
};

}  // namespace vesk::platform
