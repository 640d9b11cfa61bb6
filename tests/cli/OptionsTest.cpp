// SPDX-License-Identifier: GPL-3.0-or-later
// vesk-info's options: what a mistyped command line is told, and the manual
// page and both shell completions held to the one option table.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "../TestSupport.h"
#include "cli/Options.h"

using vesk::test::ScratchDir;

namespace {

struct Run {
    int status;
    std::string out, err;
};

Run runVeskInfo(const std::string& args) {
    ScratchDir io;
    const std::string cmd = "TMPDIR='" + io.path().string() + "' timeout 60 '" VESK_INFO_BIN "' " + args + " >'" +
                            io.file("out") + "' 2>'" + io.file("err") + "'";
    const int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, vesk::test::readFile(io.file("out")),
            vesk::test::readFile(io.file("err"))};
}

// Every "-x" and "--name" in `text`, after `unescape` has made roff's "\-" a dash.
std::set<std::string> optionsIn(std::string text) {
    for (std::size_t at; (at = text.find("\\-")) != std::string::npos;) text.replace(at, 2, "-");
    std::set<std::string> found;
    const std::regex option(R"((^|[^\w-])(--[a-z][a-z-]*|-[a-zA-Z])(?![\w-]))");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
        found.insert((*it)[2]);
    return found;
}

std::string between(const std::string& text, const std::string& from, const std::string& to) {
    auto start = text.find(from);
    if (start == std::string::npos) return "";
    start += from.size();
    return text.substr(start, text.find(to, start) - start);
}

}  // namespace

TEST(VeskInfoOptions, UsageErrorsAreOneLineAndSayWhy) {
    const std::string tryHelp = "Try 'vesk-info --help' for more information.\n";
    const struct {
        std::string args, err;
    } cases[] = {
        {"", "vesk-info: no PATH given\n"},
        {"--bogus x", "vesk-info: unknown option --bogus\n"},
        {"-Z x", "vesk-info: unknown option -Z\n"},
        {"--json=yes x", "vesk-info: option --json takes no argument\n"},
        {"--summary --properties x", "vesk-info: --properties and --summary cannot be used together\n"},
        {"--json --properties x", "vesk-info: --json and --properties cannot be used together\n"},
        {"-q --verbose x", "vesk-info: --verbose and -q (--quiet) cannot be used together\n"},
        {"--hidden x", "vesk-info: --hidden works only with -r (--recursive)\n"},
        {"- x", "vesk-info: - (standard input) must be the only PATH\n"},
        {"--ext jpg x", "vesk-info: --ext works only with -r (--recursive)\n"},
        {"x -t", "vesk-info: option -t needs an argument\n"},
        {"x --tag", "vesk-info: option --tag needs an argument\n"},
        {"--csv --json x", "vesk-info: --csv and --json cannot be used together\n"},
        {"-t Make --fields x", "vesk-info: -t (--tag) and --fields cannot be used together\n"},
        {"\"$(printf '\\055\\055\\033[2J')\" x", "vesk-info: unknown option --\\e[2J\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const auto r = runVeskInfo(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err + tryHelp);
    }
}

TEST(VeskInfoOptions, HelpAndVersion) {
    for (const char* args : {"--help", "-h", "x -h --json"}) {
        const auto r = runVeskInfo(args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_EQ(r.out, vesk::cli::helpText());
    }
    for (const char* args : {"--version", "-V"}) {
        const auto r = runVeskInfo(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(std::regex_match(r.out, std::regex(R"(vesk-info \d+\.\d+\.\d+ \(Exiv2 \d[\d.]*, libplist \d[\d.]*, )"
                                                       R"(libheif \d[\d.]*\)\n)")))
            << r.out;
        EXPECT_EQ(r.out.find("Qt"), std::string::npos);
    }
}

// The table is the truth: help, manual page and completions name the same options.
TEST(VeskInfoOptions, ManualPageAndCompletionsNameTheTablesOptions) {
    std::set<std::string> table;
    for (const auto& row : vesk::cli::kOptions) {
        table.insert(std::string("--") + row.longName);
        if (row.shortName) table.insert(std::string("-") + row.shortName);
    }
    const std::string man = vesk::test::readFile(VESK_SOURCE_DIR "/packaging/vesk-info.1");
    const std::string bash = vesk::test::readFile(VESK_SOURCE_DIR "/packaging/vesk-info.bash-completion");
    const std::string zsh = vesk::test::readFile(VESK_SOURCE_DIR "/packaging/_vesk-info");
    const struct {
        const char* what;
        std::string text;
    } sources[] = {
        {"--help", vesk::cli::helpText()},
        {"manual synopsis", between(man, ".SH SYNOPSIS", ".SH DESCRIPTION")},
        {"manual options", between(man, ".SH OPTIONS", ".SH OUTPUT")},
        {"bash completion", between(bash, "compgen -W '", "' -- ")},
        {"zsh completion", between(zsh, "_arguments -s \\\n", "'*:")},
    };
    for (const auto& s : sources) {
        SCOPED_TRACE(s.what);
        ASSERT_FALSE(s.text.empty());
        EXPECT_EQ(optionsIn(s.text), table);
    }
}
