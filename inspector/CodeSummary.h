// SPDX-License-Identifier: GPL-3.0-or-later
// A bundle's or a library's code as the details view, the summary and
// vesk-info show it: one line of what it targets, links and who signed it,
// what it asks the user for, a tree of its slices, and a JSON object.
#pragma once

#include <string>
#include <vector>

#include "inspector/Routing.h"
#include "inspector/Summary.h"
#include "platform/macho/BundleDetails.h"

namespace vesk {

struct CodeReading {
    bool bundle = false;
    platform::macho::BundleDetails details;  // a library's slices are details.executable
};

// Reads the bundle or the library at `path` for a report of `kind`.
CodeReading readCode(const std::string& path, ReportKind kind);

// "arm64 + x86_64 · macOS 11.0+ · SDK 14.2 · signed, Team ABCDE12345,
// hardened runtime · 12 libraries", or the reader's reason.
std::string codeLine(const platform::Result<std::vector<platform::macho::SliceDetails>>& slices);

// Adds the code line, a bundle's identity lines and what it asks for.
void addCodeSummary(const CodeReading& code, Summary& summary);

// The tree: a group for the bundle, then for each slice its commands, its
// libraries and its signature, then the nested code.
std::vector<PropertyRow> codeRows(const CodeReading& code);

// {"bundle": {...} or null, "slices": [...], "error": null or the reason}.
std::string codeJson(const CodeReading& code);

}  // namespace vesk
