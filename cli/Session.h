// SPDX-License-Identifier: GPL-3.0-or-later
// One inspector with its own store, events and main queue, driven for one
// path at a time in the form asked for.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/Common.h"
#include "cli/Forms.h"
#include "inspector/ReportOutcome.h"
#include "inspector/Routing.h"
#include "inspector/Summary.h"
#include "inspector/ViewController.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/Services.h"
#include "platform/TypeService.h"
#include "platform/UserDefaults.h"

namespace vesk::cli {

namespace pf = vesk::platform;

// The type service as one report sees it. The file's type decides the route
// here and again when the event is routed; the answer of the first look is
// kept for the path until the next report, instead of a second look.
class ReportTypes : public pf::TypeService {
public:
    explicit ReportTypes(const pf::TypeService& inner) : inner_(inner) {}
    void forget() { known_ = false; }
    std::optional<std::string> typeOfFile(const std::string& path) const override {
        if (!known_ || path != path_) {
            type_ = inner_.typeOfFile(path);
            path_ = path;
            known_ = true;
        }
        return type_;
    }
    bool conformsTo(const std::string& type, const std::string& parent) const override {
        return inner_.conformsTo(type, parent);
    }

private:
    const pf::TypeService& inner_;
    mutable bool known_ = false;
    mutable std::string path_;
    mutable std::optional<std::string> type_;
};

// Passes the log on, and keeps what vesk-info says even without --verbose:
// a comment file that could not be written (the comment is shown all the same).
class WatchedLogSink : public pf::LogSink {
public:
    explicit WatchedLogSink(const pf::Log& log) : log_(log) {}
    void write(const std::string& message) override;
    std::optional<std::string> take() { return std::exchange(unwritten_, std::nullopt); }

private:
    const pf::Log& log_;
    std::optional<std::string> unwritten_;
};

// One inspector with its own store, events and main queue. Reports of
// different files are independent, so each worker thread drives one.
class Session {
public:
    Session(const platform::TypeService& types, const platform::Log& log);

    struct Result {
        std::string out, err;
        bool failed = false;
    };

    // `path`: where the file given as `given` is read, when not at `given`
    // itself (standard input's copy).
    Result inspect(const std::string& given, const Form& form, const std::string& path = {});

    // A file as the details view reads it; kind "none" when no report can read it.
    // An image's rows only when `rows` (--json reads the dictionary itself),
    // and then only those of `tags` when there are any; its summary only
    // when `summary`.
    Reading read(const std::string& path, ReportKind kind, bool summary, bool rows, const std::vector<std::string>& tags);

private:
    // Never the window's store: the terminal program leaves it alone.
    std::shared_ptr<pf::MemoryUserDefaults> store_ = std::make_shared<pf::MemoryUserDefaults>();
    pf::NotificationCenter center_;
    pf::DrainedQueue queue_;
    // Only the Open panel queues work there, and the terminal has none.
    pf::DrainedQueue unusedGlobal_;
    ReportTypes types_;
    WatchedLogSink watch_;
    pf::Log log_;
    pf::Services services_;
    std::shared_ptr<ViewController> inspector_;
    ReportOutcome outcome_;  // of the last report
};

}  // namespace vesk::cli
