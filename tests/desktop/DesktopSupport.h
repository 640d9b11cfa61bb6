// SPDX-License-Identifier: GPL-3.0-or-later
// The window's tests hand it services whose main queue is the Qt event loop.
#pragma once

#include "../TestSupport.h"
#include "desktop/QtMainQueue.h"

namespace vesk::test {

using DesktopServices = BasicTestServices<desktop::QtMainQueue>;

}  // namespace vesk::test
