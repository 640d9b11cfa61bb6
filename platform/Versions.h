// SPDX-License-Identifier: GPL-3.0-or-later
// The versions of the libraries the readers use, for a program's --version.
#pragma once

#include <string>

namespace vesk::platform {

std::string exiv2Version();    // as the linked library reports it
std::string libplistVersion(); // as built against: libplist 2.2 reports none
// As the loaded library reports it; why not, when it cannot be loaded.
std::string libheifVersion();

}  // namespace vesk::platform
