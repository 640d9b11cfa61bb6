// SPDX-License-Identifier: GPL-3.0-or-later
// The process runner: starts a tool with an argument vector (never a shell)
// and reads a bounded amount of what it writes.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vesk::platform {

// Runs `command` (the tool's absolute path, then its arguments) as a child
// process, with no shell, and returns what it wrote to standard output: at
// most the first 512000 bytes, up to the first zero byte, as UTF-8 text.
// Nothing when the tool could not be started, wrote nothing, or wrote bytes
// that are not valid UTF-8. Blocks until the tool has ended.
std::optional<std::string> runCommand(const std::vector<std::string>& command);

// Runs `command` as runCommand does, on a thread of its own that nothing
// waits for, and hands what runCommand returned to `done` on that thread once
// the tool has ended: a tool that stays in the foreground for minutes (an
// opener waiting for the file manager it started) holds up no caller and no
// queue. False, and `done` never called, when no thread could be started.
bool runCommandInBackground(std::vector<std::string> command,
                            std::function<void(std::optional<std::string>)> done);

// A path as a tool's operand: one that begins with "-" would reach the tool as
// an option, so it gets "./" in front, which names the same file.
std::string asToolOperand(const std::string& path);

}  // namespace vesk::platform
