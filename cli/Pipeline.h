// SPDX-License-Identifier: GPL-3.0-or-later
// Many paths through worker threads, printed in input order; one path on the
// calling thread.
#pragma once

#include <functional>
#include <string>

#include "cli/Common.h"
#include "cli/Walk.h"
#include "platform/Log.h"
#include "platform/TypeService.h"

namespace vesk::cli {

// Runs `produce` on a thread of its own, inspects what it emits on
// `workers` threads and prints the results in the order emitted; a progress
// line on standard error when `progress`. The exit status.
int runPipeline(const Form& form, unsigned workers, const platform::TypeService& types, const platform::Log& log,
                bool progress, const std::function<bool(const Emit&)>& produce);

// One path, no folder to walk: inspected on this thread, no other started.
// `path` as Session::inspect takes it.
int inspectOne(const std::string& given, const Form& form, const platform::TypeService& types, const platform::Log& log,
               const std::string& path = {});

}  // namespace vesk::cli
