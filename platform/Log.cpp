// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Log.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace vesk::platform {
void StderrLogSink::write(const std::string& message) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    const long ms = static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm tm{};
    localtime_r(&t, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
    const long tid = static_cast<long>(::syscall(SYS_gettid));
    std::string line(stamp);
    char rest[64];
    std::snprintf(rest, sizeof rest, ".%03ld vesk[%ld:%ld] ", ms, static_cast<long>(::getpid()), tid);
    line += rest;
    line += message;
    line += '\n';
    // One write per line so that lines from several threads never interleave.
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void CaptureLogSink::write(const std::string& message) {
    std::lock_guard lock(mutex_);
    lines_.push_back(message);
}

std::vector<std::string> CaptureLogSink::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

void CaptureLogSink::clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

std::string formatLog(const char* format, std::initializer_list<std::string> args) {
    std::string out;
    auto next = args.begin();
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && (p[1] == '@' || p[1] == 'd')) {
            out += next != args.end() ? *next++ : std::string("(null)");
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

void Log::nslog(const char* format, std::initializer_list<std::string> args) const {
    sink_->write(formatLog(format, args));
}

std::string objectDescription(const char* className, const void* object) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%p", object);
    return std::string("<") + className + ": " + buf + ">";
}

}  // namespace vesk::platform
