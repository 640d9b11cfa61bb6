// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Session.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "cli/Forms.h"
#include "inspector/ImageReport.h"
#include "inspector/InfoKeys.h"
#include "inspector/ReportOutcome.h"
#include "inspector/ReportText.h"
#include "inspector/Routing.h"
#include "inspector/Summary.h"
#include "platform/FileSystem.h"
#include "platform/PropertyList.h"

namespace vesk::cli {

namespace {

// The working directory, asked once: vesk-info never changes it.
const std::string& workingDirectory() {
    static const std::string cwd = pf::currentDirectory();
    return cwd;
}

}  // namespace

void WatchedLogSink::write(const std::string& message) {
    if (message.starts_with(kCommentNotWritten)) unwritten_ = message.substr(std::strlen(kCommentNotWritten));
    log_.write(message);
}

Session::Session(const pf::TypeService& types, const pf::Log& log)
    : types_(types), watch_(log), log_(watch_), services_{store_, center_, queue_, unusedGlobal_, types_, log_},
      inspector_(std::make_shared<ViewController>(services_)) {
    inspector_->viewDidLoad();
    inspector_->setOutcomeHandler([this](const ReportOutcome& outcome) { outcome_ = outcome; });
}

Reading Session::read(const std::string& path, ReportKind kind, bool summary, bool rows,
                      const std::vector<std::string>& tags) {
    Reading reading;
    if (kind == ReportKind::Image) {
        // The dictionary is all the details view reads of an image: read once,
        // with no report of six fields built and thrown away.
        // Only the tags' rows printed: the reader need not make the other values.
        pf::PropertyKeyFilter wanted;
        if (!summary && !tags.empty())
            wanted = [&](std::string_view group, std::string_view key) { return keyChosen(group, key, tags); };
        reading.properties = readImageProperties(path, services_.log, nullptr, nullptr, wanted);
        if (!reading.properties) return reading;
        reading.kind = "image";
        if (summary) reading.summary = summarizeImage(*reading.properties);
        if (rows && tags.empty()) reading.rows = propertyRows(*reading.properties);
        if (rows && !tags.empty())
            reading.rows = propertyRows(*reading.properties, [&](const PropertyRow& row) { return rowChosen(row, tags); });
        return reading;
    }
    outcome_ = {};
    center_.post(pf::kAddFromFileNotification, pf::Value(pf::Array{pf::Value(path)}));
    queue_.drain();
    if (outcome_.failed) return reading;
    reading.field = store_->get(prefTextViewString1).value_or(std::string());
    if (kind == ReportKind::Bundle) {
        reading.kind = "bundle";
        reading.summary = summarizeBundle(reading.field);
        // Where the bundle report looks for the executable's name, in its order.
        for (const char* where : {"/Contents/Info.plist", "/Info.plist", "/Resources/Info.plist"}) {
            const auto info = pf::readDictionaryWithContentsOfFile(path + where);
            if (!info || !info.value()) continue;
            for (const char* key : kIdentityKeys)
                if (auto it = info.value()->find(key); it != info.value()->end())
                    if (const auto* text = it->second.get<std::string>()) reading.identity.emplace_back(key, *text);
            break;
        }
    } else {
        reading.kind = "library";
        reading.summary = summarizeLibrary(reading.field, path);
    }
    reading.code = readCode(path, kind);
    addCodeSummary(*reading.code, reading.summary);
    if (rows) reading.rows = codeRows(*reading.code);
    return reading;
}

Session::Result Session::inspect(const std::string& given, const Form& form, const std::string& readFrom) {
    const Mode mode = form.mode;
    types_.forget();
    const std::string path = readFrom.empty() ? pf::absolutePath(given, workingDirectory()) : readFrom;
    struct stat st{};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        const int err = path.empty() ? ENOENT : errno;
        return {"", "vesk-info: " + shown(given) + ": " + std::strerror(err) + "\n", true};
    }
    Result r;
    const ReportKind kind = reportKindFor(path, services_.types);
    // The bundle report reads folders; every other report reads one file.
    if (kind != ReportKind::Bundle) {
        // A regular file the type service could tell was opened by it
        // (it tells nothing of what it cannot read): no second look.
        const bool opened = S_ISREG(st.st_mode) && services_.types.typeOfFile(path);
        if (auto reason = opened ? std::nullopt : unreadableReason(path)) {
            // A plain folder is walked with -r; a bundle kind never is.
            if (S_ISDIR(st.st_mode) && !isBundleFolder(path, services_.types)) *reason += " (-r walks folders)";
            r.err = "vesk-info: " + shown(given) + ": " + *reason + "\n";
            r.failed = true;
        }
    }
    if (mode == Mode::Properties) {
        r.out = propertiesJson(path, services_.log, given);
        return r;
    }
    if (mode == Mode::Text || mode == Mode::Json || mode == Mode::Csv) {
        // The CSV reads the summary, or the rows of the tags asked for; the
        // text with tags shows only their rows.
        const bool tagged = !form.tags.empty();
        const Reading reading = read(path, kind, mode == Mode::Json || !tagged,
                                     mode == Mode::Text || (mode == Mode::Csv && tagged), form.tags);
        r.out = mode == Mode::Json  ? jsonObject(given, path, reading, form.tags)
                : mode == Mode::Csv ? csvRow(given, reading, form.tags)
                                    : readableText(given, reading, form.tags);
        if (std::string_view(reading.kind) == "none" && !r.failed) {
            // A bundle or library the report refused says why, as the status line does.
            const bool told = kind != ReportKind::Image && outcome_.failed && !outcome_.text.empty();
            r.err = "vesk-info: " + shown(given) + ": " + (told ? shown(outcome_.text) : "not a photo, bundle or library") + "\n";
            r.failed = true;
        }
        return r;
    }
    center_.post(pf::kAddFromFileNotification, pf::Value(pf::Array{pf::Value(path)}));
    queue_.drain();
    if (auto why = watch_.take())
        r.err += "vesk-info: " + shown(given) + ": usercomment.xml could not be written (" + shown(*why) +
                 "); the comment is shown from memory\n";
    if (mode == Mode::FieldsJson || mode == Mode::Fields) {
        // Read in place: the report's texts are not copied out first.
        store_->read([&](const std::map<std::string, std::string>& values) {
            r.out = mode == Mode::Fields ? reportText(given, values) : jsonReport(given, values);
        });
        return r;
    }
    const auto properties = store_->get(prefTextViewString1);
    // The report above has logged this file already.
    pf::DiscardLogSink quietSink;
    const Details details = detailsFor(path, kind, properties.value_or(std::string()), pf::Log(quietSink));
    r.out = mode == Mode::SummaryJson ? summaryJson(given, details.summary) : summaryText(given, details.summary);
    return r;
}

}  // namespace vesk::cli
