// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Options.h"

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>

#include "platform/Utf8.h"

namespace vesk::cli {

namespace {

// Long options without a short name get values past any character.
constexpr int kLongOnly = 256;

const OptionRow* byLongName(const char* name) {
    for (const auto& row : kOptions)
        if (std::strcmp(row.longName, name) == 0) return &row;
    return nullptr;
}

const OptionRow& byId(OptionId id) {
    return *std::find_if(kOptions.begin(), kOptions.end(), [&](const OptionRow& s) { return s.id == id; });
}

void set(Options& o, OptionId id, const char* argument) {
    switch (id) {
        case OptionId::Json: o.json = true; break;
        case OptionId::Fields: o.fields = true; break;
        case OptionId::Csv: o.csv = true; break;
        case OptionId::Tag: o.tags.emplace_back(argument); break;
        case OptionId::Ext: {
            // "jpg", ".jpg" and "JPG" alike.
            std::string ext = argument[0] == '.' ? argument + 1 : argument;
            for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            o.extensions.push_back(ext);
            break;
        }
        case OptionId::Properties: o.properties = true; break;
        case OptionId::Clean: o.clean = argument; break;
        case OptionId::Output: o.output = argument; break;
        case OptionId::Summary: o.summary = true; break;
        case OptionId::Recursive: o.recursive = true; break;
        case OptionId::Hidden: o.hidden = true; break;
        case OptionId::Progress: o.progress = true; break;
        case OptionId::Verbose: o.verbose = true; break;
        case OptionId::Quiet: o.quiet = true; break;
        case OptionId::Help:
        case OptionId::Version: break;
    }
}

ParsedOptions usageError(std::string message) {
    ParsedOptions p;
    p.action = ParsedOptions::Action::UsageError;
    p.error = platform::utf8::escapeControls(message);
    return p;
}

}  // namespace

std::string optionName(const OptionRow& row) {
    const std::string name = std::string("--") + row.longName;
    return row.shortName ? std::string("-") + row.shortName + " (" + name + ")" : name;
}

ParsedOptions parseOptions(int argc, char** argv) {
    // ':' first: a missing argument is told apart from an unknown option.
    std::string shortOptions = ":";
    std::vector<option> longOptions;
    for (std::size_t i = 0; i < kOptions.size(); ++i) {
        const auto& row = kOptions[i];
        const int value = row.shortName ? row.shortName : kLongOnly + static_cast<int>(i);
        if (row.shortName) shortOptions += std::string(1, row.shortName) + (row.argument ? ":" : "");
        longOptions.push_back({row.longName, row.argument ? required_argument : no_argument, nullptr, value});
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    ParsedOptions parsed;
    std::vector<bool> given(kOptions.size(), false);
    opterr = 0;  // the messages are ours: one line, escaped
    optind = 0;
    for (;;) {
        const int c = ::getopt_long(argc, argv, shortOptions.c_str(), longOptions.data(), nullptr);
        if (c == -1) break;
        if (c == '?' || c == ':') {
            const char* arg = optind > 0 && optind <= argc ? argv[optind - 1] : "";
            const bool longForm = std::strncmp(arg, "--", 2) == 0;
            if (c == ':')
                return usageError("option " + (longForm ? std::string(arg) : "-" + std::string(1, char(optopt))) +
                                  " needs an argument");
            if (longForm) {
                // "--json=x": a known option given an argument it does not take.
                const char* eq = std::strchr(arg, '=');
                if (eq && optopt != 0) return usageError("option " + std::string(arg, eq) + " takes no argument");
                return usageError("unknown option " + std::string(arg));
            }
            return usageError("unknown option -" + std::string(1, char(optopt)));
        }
        std::size_t index = 0;
        if (c >= kLongOnly) {
            index = static_cast<std::size_t>(c - kLongOnly);
        } else {
            while (kOptions[index].shortName != c) ++index;
        }
        given[index] = true;
        set(parsed.options, kOptions[index].id, optarg);
    }
    for (int i = optind; i < argc; ++i) parsed.options.paths.emplace_back(argv[i]);

    const auto isGiven = [&](OptionId id) { return given[static_cast<std::size_t>(&byId(id) - kOptions.data())]; };
    if (isGiven(OptionId::Help)) {
        parsed.action = ParsedOptions::Action::Help;
        return parsed;
    }
    if (isGiven(OptionId::Version)) {
        parsed.action = ParsedOptions::Action::Version;
        return parsed;
    }
    for (std::size_t i = 0; i < kOptions.size(); ++i) {
        if (!given[i]) continue;
        for (const char* other : kOptions[i].conflicts) {
            const OptionRow* row = other ? byLongName(other) : nullptr;
            if (row && isGiven(row->id))
                return usageError(optionName(kOptions[i]) + " and " + optionName(*row) + " cannot be used together");
        }
        if (const OptionRow* needed = kOptions[i].needs ? byLongName(kOptions[i].needs) : nullptr;
            needed && !isGiven(needed->id))
            return usageError(optionName(kOptions[i]) + " works only with " + optionName(*needed));
    }
    if (isGiven(OptionId::Clean) && parsed.options.clean != "location" && parsed.options.clean != "all")
        return usageError("--clean takes location or all, not " + parsed.options.clean);
    if (parsed.options.paths.empty()) return usageError("no PATH given");
    const auto& paths = parsed.options.paths;
    if (std::find(paths.begin(), paths.end(), "-") != paths.end() && paths.size() > 1)
        return usageError("- (standard input) must be the only PATH");
    return parsed;
}

std::string helpText() {
    std::string out =
        "Usage: vesk-info [OPTION]... PATH...\n"
        "Shows what Vesk shows for each file: image metadata, the CPU architectures\n"
        "of a bundle's executable, or the file tool's description of a library.\n"
        "\n";
    std::vector<std::pair<std::string, std::string>> lines;
    std::size_t width = 0;
    for (const auto& row : kOptions) {
        std::string left = row.shortName ? std::string("  -") + row.shortName + ", " : std::string("      ");
        left += std::string("--") + row.longName;
        if (row.argument) left += std::string("=") + row.argument;
        std::string help = row.help;
        if (row.needs) help = std::string("with ") + optionName(*byLongName(row.needs)) + ", " + help;
        width = std::max(width, left.size());
        lines.emplace_back(std::move(left), std::move(help));
    }
    // Wrapped at 80 columns, later lines under the first.
    const std::size_t room = 80 - (width + 2);
    for (const auto& [left, help] : lines) {
        out += left + std::string(width + 2 - left.size(), ' ');
        std::size_t column = 0;
        for (std::size_t at = 0; at < help.size();) {
            std::size_t end = help.find(' ', at);
            if (end == std::string::npos) end = help.size();
            const std::string word = help.substr(at, end - at);
            if (column > 0 && column + 1 + word.size() > room) {
                out += '\n';
                out.append(width + 2, ' ');
                column = 0;
            } else if (column > 0) {
                out += ' ';
                ++column;
            }
            out += word;
            column += word.size();
            at = end + 1;
        }
        out += "\n";
    }
    out +=
        "\n"
        "\"path\" is the path as given (or as found under a given folder); a name that\n"
        "is not UTF-8 also gets its exact bytes, base64, in \"pathBytes\". In the text\n"
        "form, control characters from files and names are shown escaped (\\e, \\x07,\n"
        "\\u0085, \\xff); JSON carries them as JSON escapes.\n"
        "\n"
        "Exit status: 0 when every PATH was inspected and the output written; 1 when a\n"
        "PATH does not exist, is no photo, bundle or library (not said with --fields,\n"
        "--summary or --properties), the image or library report cannot read it as a regular\n"
        "file (a folder that is no .bundle, .app, .framework or .plugin, without -r;\n"
        "a pipe, a socket, a device, no permission; its report is still printed), a\n"
        "folder or a file in it could not be reached, standard output cannot be\n"
        "written, or --clean could not make a copy; 2 on a usage error. A symbolic\n"
        "link back into the walk, to a folder already walked or into /proc, /sys or\n"
        "/dev is said once and skipped; it does not change the status.\n"
        "\n"
        "--clean never changes a PATH: each copy is written under a temporary name in\n"
        "DIR, compared with the original's picture data, read back, and only then\n"
        "named like the original (NAME (clean).EXT when DIR is the original's folder);\n"
        "with -r, in its place below DIR/FOLDER, FOLDER being the one walked.\n"
        "JPEG, TIFF, PNG, WebP and JPEG 2000 are cleaned; HEIC, HEIF, AVIF, JPEG XL\n"
        "and CR3 in place; other formats are refused with the reason.\n";
    return out;
}

}  // namespace vesk::cli
