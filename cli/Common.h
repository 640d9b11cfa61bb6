// SPDX-License-Identifier: GPL-3.0-or-later
// What the rooms of vesk-info share: the report forms, the exit statuses,
// how text from files reaches a terminal, and standard output checked.
#pragma once

#include <string>
#include <vector>

#include "platform/TypeService.h"

namespace vesk::cli {

// Text and Json read a file as the details view does; Fields and FieldsJson
// print the window's six fields as the info store holds them.
enum class Mode { Text, Json, Csv, Fields, FieldsJson, Properties, SummaryText, SummaryJson };

// A form and the tags it is limited to (none: every tag).
struct Form {
    Mode mode = Mode::Text;
    std::vector<std::string> tags;
};

// A path that could not be inspected and a failed write share status 1:
// either way the caller did not get every report it asked for.
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Text from files and their names reaches a terminal: nothing in it may
// drive the terminal or start a line of its own.
std::string shown(const std::string& text);

// A folder kind the type service names a bundle (.bundle, .app, .framework,
// .plugin) is one thing to inspect, never a folder to walk into.
bool isBundleFolder(const std::string& path, const platform::TypeService& types);

// Standard output, every write checked: a full disk or a closed descriptor
// must not pass for a report delivered. Says so once on standard error.
class Output {
public:
    bool write(const std::string& text);
    bool flush();
    // The status to leave with, the output flushed.
    int finish(int status) { return flush() ? status : kExitFailure; }
    bool failed() const { return failed_; }

private:
    void fail(int err);
    bool failed_ = false;
};

}  // namespace vesk::cli
