// SPDX-License-Identifier: GPL-3.0-or-later
#include "inspector/ReportOutcome.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "platform/FileDescriptor.h"
#include "platform/FileSystem.h"

namespace vesk {

namespace {

std::string lowerFirst(std::string text) {
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

}  // namespace

std::string cannotReadText(const std::string& reason) {
    return std::string(kOutcomeCannotRead) + ": " + lowerFirst(reason);
}

std::string statusText(const ReportOutcome& outcome) {
    std::string text = platform::lastPathComponent(outcome.path) + ": " + outcome.text;
    if (!outcome.notes.empty()) {
        text += " (cut short: ";
        for (std::size_t i = 0; i < outcome.notes.size(); ++i) text += (i ? "; " : "") + outcome.notes[i];
        text += ")";
    }
    return text;
}

ReportOutcome refusalOutcome(const std::string& path, const std::optional<std::string>& type,
                             const platform::TypeService& types) {
    // The most particular kind first: a type answers with the first row it conforms to.
    static constexpr struct {
        const char* type;
        const char* words;
    } kKinds[] = {
        {"public.text", "a text file"},
        {"com.adobe.pdf", "a PDF document"},
        {"com.apple.property-list", "a property list"},
        {"com.apple.mach-o-bundle", "a Mach-O plug-in, not a library"},
        {"public.executable", "a program, not a library"},
        {"public.directory", "a folder that is no bundle"},
        {"public.image", "an image of a kind Vesk does not read"},
        {"public.item", "a file of a kind Vesk does not read"},
    };
    const auto reason = type ? std::nullopt : unreadableReason(path);
    std::string what = reason ? cannotReadText(*reason) : "a file of a kind Vesk does not read";
    for (const auto& kind : kKinds) {
        if (type && types.conformsTo(*type, kind.type)) {
            what = kind.words;
            break;
        }
    }
    return ReportOutcome{path, what + "; " + kWhatVeskReads, {}, true};
}

std::string architecturesShownText(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " architecture" : " architectures") +
           " in the bundle's executable";
}

std::optional<std::string> unreadableReason(const std::string& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
    if (!S_ISREG(st.st_mode)) return std::string("not a regular file");
    // The open is what permission bits, ACLs and the mount allow.
    const platform::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) return std::strerror(errno);
    return std::nullopt;
}

std::optional<std::string> budgetNote(const std::string& line, const std::string& path) {
    static constexpr std::string_view kImageBudget = "Image budget: ";
    static constexpr std::string_view kImageReader = "Image reader: ";
    static constexpr std::string_view kBudgetCut = "budget cut ";
    for (const std::string_view prefix : {kImageBudget, kImageReader}) {
        if (!line.starts_with(prefix)) continue;
        std::string rest = line.substr(prefix.size());
        if (const std::string named = path + ": "; rest.starts_with(named)) rest.erase(0, named.size());
        return rest;
    }
    if (line.starts_with(kBudgetCut)) {
        std::string rest = line.substr(kBudgetCut.size());
        // A file named by its whole path is named by its own name.
        if (rest.starts_with('/')) {
            const auto colon = rest.find(": ");
            if (colon != std::string::npos) rest = platform::lastPathComponent(rest.substr(0, colon)) + rest.substr(colon);
        }
        return rest;
    }
    return std::nullopt;
}

}  // namespace vesk
