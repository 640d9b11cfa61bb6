// The system log: one line per call, "date time vesk[pid:tid] message" on
// standard error, or into a sink that tests install to read the lines back.
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

// Installs `sink` for the calls that follow; nullptr restores standard error.
void setLogSink(LogSink* sink);

// NSLog: `format` with each "%@" and "%d" replaced, in order, by the next
// argument. Arguments are inserted as they are, never read as formats.
void nslog(const char* format, std::initializer_list<std::string> args = {});

// The substitution alone, for tests and callers that need the text.
std::string formatLog(const char* format, std::initializer_list<std::string> args);

// How an object renders with "%@": "<ClassName: 0x...>".
std::string objectDescription(const char* className, const void* object);

// Captures the log for the lifetime of the object (tests).
class ScopedLogCapture {
public:
    ScopedLogCapture() { setLogSink(&sink_); }
    ~ScopedLogCapture() { setLogSink(nullptr); }
    ScopedLogCapture(const ScopedLogCapture&) = delete;
    ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;
    std::vector<std::string> lines() const { return sink_.lines(); }
    void clear() { sink_.clear(); }

private:
    CaptureLogSink sink_;
};

}  // namespace vesk::platform
