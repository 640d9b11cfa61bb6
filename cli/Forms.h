// The forms vesk-info prints a report in.
#pragma once

#include <map>
#include <string>

namespace vesk::cli {

// {"path": ..., "store": {key: text}} and a newline: the six fields as the
// info store holds them, with the current path, in the table's order.
std::string jsonReport(const std::string& given, const std::map<std::string, std::string>& store);

}  // namespace vesk::cli
