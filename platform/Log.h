// SPDX-License-Identifier: GPL-3.0-or-later
// The system log: one line per call, "date time vesk[pid:tid] message" on
// standard error, or into a sink that a test hands the system to read the lines back.
#pragma once

#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

namespace vesk::platform {

class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const std::string& message) = 0;
};

// Writes one line per call to standard error.
class StderrLogSink : public LogSink {
public:
    void write(const std::string& message) override;
};

// Keeps every message; safe to write from several threads.
class CaptureLogSink : public LogSink {
public:
    void write(const std::string& message) override;
    std::vector<std::string> lines() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Writes nothing: vesk-info without --verbose.
class DiscardLogSink : public LogSink {
public:
    void write(const std::string&) override {}
};

// The system log as the rest of the system reaches it: every object that logs
// is handed one, so a test reads its lines from its own sink. A handle: copy
// it freely; the sink must outlive the copies.
class Log {
public:
    explicit Log(LogSink& sink) : sink_(&sink) {}

    // NSLog: `format` with each "%@" and "%d" replaced, in order, by the next
    // argument. Arguments are inserted as they are, never read as formats.
    void nslog(const char* format, std::initializer_list<std::string> args = {}) const;
    // A line already formatted.
    void write(const std::string& message) const { sink_->write(message); }

private:
    LogSink* sink_;
};

// The substitution alone, for tests and callers that need the text.
std::string formatLog(const char* format, std::initializer_list<std::string> args);

// How an object renders with "%@": "<ClassName: 0x...>".
std::string objectDescription(const char* className, const void* object);

}  // namespace vesk::platform
