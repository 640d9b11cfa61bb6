// SPDX-License-Identifier: GPL-3.0-or-later
// vesk-info: the inspector driven from a terminal. Each PATH goes through the
// same file-add event, routing and reports as a file dropped on the window;
// what the info store then holds is printed. This file only wires the rooms:
// the options, the walk, the pipeline and the output forms.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <thread>

#include "cli/Clean.h"
#include "cli/Common.h"
#include "cli/Forms.h"
#include "cli/Options.h"
#include "cli/Pipeline.h"
#include "cli/StandardInput.h"
#include "cli/Walk.h"
#include "platform/Log.h"
#include "platform/TypeService.h"
#include "platform/Utf8.h"
#include "platform/Versions.h"

namespace {

using namespace vesk::cli;
namespace pf = vesk::platform;

// The diagnostic log quotes file text as well; its lines may hold several.
class ShownStderrLogSink : public pf::LogSink {
public:
    void write(const std::string& message) override { inner_.write(pf::utf8::escapeControls(message)); }

private:
    pf::StderrLogSink inner_;
};

// Whether the name of `path` ends in "." and one of `extensions` (lower case), letter case aside.
bool hasExtension(const std::string& path, const std::vector<std::string>& extensions) {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return std::find(extensions.begin(), extensions.end(), ext) != extensions.end();
}

}  // namespace

int main(int argc, char** argv) {
    const ParsedOptions parsed = parseOptions(argc, argv);
    switch (parsed.action) {
        case ParsedOptions::Action::UsageError:
            std::fprintf(stderr, "vesk-info: %s\nTry 'vesk-info --help' for more information.\n", parsed.error.c_str());
            return kExitUsage;
        case ParsedOptions::Action::Help: {
            Output out;
            out.write(helpText());
            return out.finish(0);
        }
        case ParsedOptions::Action::Version: {
            Output out;
            out.write("vesk-info " VESK_VERSION " (Exiv2 " + pf::exiv2Version() + ", libplist " + pf::libplistVersion() +
                      ", libheif " + pf::libheifVersion() + ")\n");
            return out.finish(0);
        }
        case ParsedOptions::Action::Run: break;
    }
    const Options& options = parsed.options;
    const auto& paths = options.paths;
    Form form{options.json ? Mode::Json : options.csv ? Mode::Csv : options.properties ? Mode::Properties : Mode::Text,
              options.tags};
    if (options.summary) form.mode = form.mode == Mode::Json ? Mode::SummaryJson : Mode::SummaryText;
    if (options.fields) form.mode = form.mode == Mode::Json ? Mode::FieldsJson : Mode::Fields;
    if (form.mode == Mode::Csv) {
        Output out;
        if (!out.write(csvHeader(form.tags))) return kExitFailure;
    }

    pf::DiscardLogSink quiet;
    ShownStderrLogSink loud;
    const pf::Log log(options.verbose ? static_cast<pf::LogSink&>(loud) : quiet);
    const pf::FileTypeService types;
    if (!options.clean.empty()) return cleanPaths(options, types, log);
    if (paths.size() == 1 && paths[0] == "-") {
        StandardInputFile input;
        if (auto reason = input.copy()) {
            std::fprintf(stderr, "vesk-info: -: %s\n", reason->c_str());
            return kExitFailure;
        }
        return inspectOne("-", form, types, log, input.path());
    }
    if (paths.size() == 1 && !options.recursive) return inspectOne(paths[0], form, types, log);

    // One worker per core; this thread prints, the walk has its own.
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned workers =
        options.recursive ? cores : static_cast<unsigned>(std::min<std::size_t>(paths.size(), cores));
    // The diagnostic log shares standard error: no progress line across it.
    const bool progress = !options.verbose && (options.progress || ::isatty(STDERR_FILENO) == 1);
    return runPipeline(form, workers, types, log, progress, [&](const Emit& emit) {
        // -q: the notes of the walk (nothing missing) are not said.
        return walkPaths(types, options.recursive, options.hidden, paths, [&](Item item) {
            if (options.quiet && !item.problem.empty() && !item.failed) return true;
            // --ext: the files a walk found, not the paths given.
            if (!options.extensions.empty() && item.problem.empty() && !hasExtension(item.path, options.extensions) &&
                std::find(paths.begin(), paths.end(), item.path) == paths.end())
                return true;
            return emit(std::move(item));
        });
    });
}
