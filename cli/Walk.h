// SPDX-License-Identifier: GPL-3.0-or-later
// The paths vesk-info inspects: the arguments as given, or with -r the files
// Vesk reads under a folder argument.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/TypeService.h"

namespace vesk::cli {

// One entry of the stream: a path to inspect, or a problem the walk met,
// said in its place among the reports.
struct Item {
    std::string path;
    std::string problem;  // set: no path, this line goes to standard error
    bool failed = false;  // the problem makes the exit status 1
    // The folder argument the path was found under with -r; empty for a
    // path given as it is.
    std::string root;
};

using Emit = std::function<bool(Item)>;  // false: stop, nobody reads on

// Emits the paths of `args` in order, each walked when `recursive` (hidden
// names too when `hidden`); false when `emit` said stop.
bool walkPaths(const platform::TypeService& types, bool recursive, bool hidden, const std::vector<std::string>& args,
               Emit emit);

}  // namespace vesk::cli
