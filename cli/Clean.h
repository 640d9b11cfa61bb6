// SPDX-License-Identifier: GPL-3.0-or-later
// vesk-info --clean: a copy of each photo, without its location or without
// its metadata, in the folder -o names. One line per file on standard output,
// each failure with its reason on standard error.
#pragma once

#include "cli/Options.h"
#include "platform/Log.h"
#include "platform/TypeService.h"

namespace vesk::cli {

// The exit status: 0 when every file was cleaned, 1 when any was not.
int cleanPaths(const Options& options, const platform::TypeService& types, const platform::Log& log);

}  // namespace vesk::cli
