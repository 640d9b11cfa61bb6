// SPDX-License-Identifier: GPL-3.0-or-later
// vesk-info's options, declared once: the parser, the help text, and the test
// that holds the manual page and the shell completions to them read this table.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace vesk::cli {

enum class OptionId { Help, Version, Quiet, Json, Csv, Fields, Properties, Summary, Tag, Recursive, Hidden, Ext, Progress, Verbose, Clean, Output };

struct OptionRow {
    OptionId id;
    char shortName;        // 0: long only
    const char* longName;  // without the dashes
    const char* argument;  // the argument's name in the help; nullptr: takes none
    const char* help;
    std::array<const char*, 4> conflicts;  // long names of options it cannot be used with
    const char* needs;                     // long name of an option it means nothing without
};

inline constexpr std::array<OptionRow, 16> kOptions{{
    {OptionId::Json, 0, "json", nullptr, "one JSON object per path (JSON Lines)", {"properties"}, nullptr},
    {OptionId::Csv, 0, "csv", nullptr, "one CSV row per file: the path, then the chosen tags or the summary",
     {"json", "fields", "summary", "properties"}, nullptr},
    {OptionId::Fields, 0, "fields", nullptr,
     "the window's six fields, labelled (with --json: {\"path\": ..., \"store\": {key: text}})",
     {"properties", "summary"}, nullptr},
    {OptionId::Properties, 0, "properties", nullptr,
     "one JSON object per path: its image property dictionary", {"json", "summary"}, nullptr},
    {OptionId::Summary, 0, "summary", nullptr,
     "the window's summary and privacy line of each path (as JSON with --json)",
     {"properties"}, nullptr},
    {OptionId::Tag, 't', "tag", "TAG",
     "only this tag: a key in any group, letter case aside, or GROUP:KEY (Exif:FNumber); repeatable",
     {"fields", "summary", "properties"}, nullptr},
    {OptionId::Recursive, 'r', "recursive", nullptr,
     "walk folders: every image, library and bundle in them, sorted per folder", {}, nullptr},
    {OptionId::Hidden, 0, "hidden", nullptr, "also enter hidden folders and take hidden files", {}, "recursive"},
    {OptionId::Ext, 0, "ext", "EXT", "take only the files found with this extension (jpg, heic); repeatable", {},
     "recursive"},
    {OptionId::Clean, 0, "clean", "WHAT",
     "write a copy of each photo into -o's folder without its location (location) or without any metadata but "
     "orientation, colour profile and size (all); one line per file says what was removed",
     {"json", "csv", "fields", "properties"}, "output"},
    {OptionId::Output, 'o', "output", "DIR", "the folder --clean writes its copies to", {"summary", "tag"}, "clean"},
    {OptionId::Progress, 0, "progress", nullptr, "show the progress line also when standard error is no terminal",
     {}, nullptr},
    {OptionId::Verbose, 0, "verbose", nullptr, "write the diagnostic log to standard error", {"quiet"}, nullptr},
    {OptionId::Quiet, 'q', "quiet", nullptr, "say no notes on standard error (links not followed), only errors", {},
     nullptr},
    {OptionId::Help, 'h', "help", nullptr, "show this text and exit", {}, nullptr},
    {OptionId::Version, 'V', "version", nullptr, "show the version and the libraries' versions and exit", {}, nullptr},
}};

struct Options {
    bool json = false, csv = false, fields = false, properties = false, summary = false;
    bool recursive = false, hidden = false, progress = false, verbose = false, quiet = false;
    std::vector<std::string> tags, extensions;
    std::string clean, output;  // --clean's WHAT ("location" or "all") and -o's folder
    std::vector<std::string> paths;
};

struct ParsedOptions {
    enum class Action { Run, Help, Version, UsageError } action = Action::Run;
    Options options;
    std::string error;  // for a usage error: one line, no program name, control characters escaped
};

// GNU getopt_long rules: options and paths mixed, "--" ends the options,
// long options may be abbreviated. Uses getopt_long's global state: once
// per process.
ParsedOptions parseOptions(int argc, char** argv);

// The --help text, its option lines printed from the table.
std::string helpText();

// "--json", or "-r (--recursive)" for an option with a short name.
std::string optionName(const OptionRow& row);

}  // namespace vesk::cli
