// SPDX-License-Identifier: GPL-3.0-or-later
// What vesk-info prints for one file, shared with the window's export so the
// two never differ.
#pragma once

#include <map>
#include <string>

#include "platform/Log.h"

namespace vesk {

// The six fields as vesk-info prints them: "==> PATH <==", then each field
// the store holds under its label, control characters escaped.
std::string reportText(const std::string& path, const std::map<std::string, std::string>& store);

// vesk-info --properties: {"path": ..., "properties": dictionary or null}
// and a newline; reads the file at `path`, names it `shownPath` (the path as
// the user gave it).
std::string propertiesJson(const std::string& path, const platform::Log& log, const std::string& shownPath);
std::string propertiesJson(const std::string& path, const platform::Log& log);

// "\"path\": ..." for a JSON object: a name that is not UTF-8 prints with
// U+FFFD, so its exact bytes follow in "pathBytes" (base64), or two different
// files could print alike.
std::string jsonPathMembers(const std::string& path);

}  // namespace vesk
