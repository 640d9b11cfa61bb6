// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Pipeline.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "cli/Session.h"

namespace vesk::cli {

namespace {

using Clock = std::chrono::steady_clock;

// The self-updating progress line on standard error: after a second, at most
// five times a second on a terminal (once a second otherwise). Carriage
// return and padding only, no terminal escapes; wiped before anything else is
// written to the same terminal.
class Progress {
public:
    explicit Progress(bool enabled) : enabled_(enabled), tty_(::isatty(STDERR_FILENO) == 1) {}

    void update(std::size_t done, std::size_t found, bool allFound) {
        if (!enabled_) return;
        const auto now = Clock::now();
        if (now - start_ < std::chrono::seconds(1)) return;
        if (drawn_ && now - last_ < (tty_ ? std::chrono::milliseconds(200) : std::chrono::seconds(1))) return;
        last_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const double rate = done / seconds;
        char line[160];
        if (allFound) {
            const double left = rate > 0 ? (found - done) / rate : 0;
            const long s = static_cast<long>(left + 0.5);
            std::snprintf(line, sizeof line, "vesk-info: %zu/%zu files, %.0f files/s, %ld:%02ld left", done, found,
                          rate, s / 60, s % 60);
        } else {
            std::snprintf(line, sizeof line, "vesk-info: %zu files, %zu found so far, %.0f files/s", done, found, rate);
        }
        std::string text = std::string("\r") + line;
        const std::size_t width = std::strlen(line);
        if (width < width_) text.append(width_ - width, ' ');
        width_ = width;
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
        drawn_ = true;
    }
    // Before other text reaches the terminal the line is on.
    void wipe() {
        if (!drawn_) return;
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
        std::fflush(stderr);
        drawn_ = false;
        width_ = 0;
    }
    bool enabled() const { return enabled_; }

private:
    bool enabled_, tty_;
    bool drawn_ = false;
    std::size_t width_ = 0;
    Clock::time_point start_ = Clock::now(), last_{};
};

// The walk feeds a bounded queue, workers take from it, and results are
// printed in input order through a bounded reorder window: memory stays the
// same for 100 files or 100,000.
class Pipeline {
public:
    static constexpr std::size_t kQueue = 256;
    static constexpr std::size_t kWindow = 256;

    Pipeline(const Form& form, unsigned workers, const pf::TypeService& types, const pf::Log& log, Progress& progress)
        : form_(form), workers_(std::max(1u, workers)), types_(types), log_(log), progress_(progress),
          window_(kWindow) {}

    int run(const std::function<bool(const Emit&)>& produce) {
        std::thread producer([&] {
            produce([this](Item item) { return push(std::move(item)); });
            std::lock_guard lock(mutex_);
            allFound_ = true;
            workable_.notify_all();
            printable_.notify_all();
        });
        std::vector<std::thread> threads;
        for (unsigned w = 0; w < workers_; ++w) threads.emplace_back([this] { work(); });
        const int status = print();
        {
            // Nobody will read the rest: the walk and the workers stop.
            std::lock_guard lock(mutex_);
            stop_ = true;
            roomInQueue_.notify_all();
            workable_.notify_all();
        }
        producer.join();
        for (auto& t : threads) t.join();
        return status;
    }

private:
    bool push(Item item) {
        std::unique_lock lock(mutex_);
        roomInQueue_.wait(lock, [&] { return stop_ || queue_.size() < kQueue; });
        if (stop_) return false;
        if (item.problem.empty()) ++found_;
        queue_.emplace_back(produced_++, std::move(item));
        workable_.notify_one();
        return true;
    }

    void work() {
        Session session(types_, log_);
        for (;;) {
            std::unique_lock lock(mutex_);
            // An item is taken only when its result has room in the window.
            workable_.wait(lock, [&] { return stop_ || admissible() || (queue_.empty() && allFound_); });
            if (stop_ || queue_.empty()) return;
            if (queue_.size() == kQueue) roomInQueue_.notify_one();
            auto [index, item] = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            const bool isFile = item.problem.empty();
            Session::Result r =
                isFile ? session.inspect(item.path, form_) : Session::Result{"", std::move(item.problem), item.failed};
            lock.lock();
            window_[index % kWindow] = Slot{std::move(r), isFile};
            // Only the result printed next is worth waking the printer for.
            if (index == printed_) printable_.notify_one();
        }
    }

    int print() {
        int status = 0;
        Output out;
        const bool stdoutTty = ::isatty(STDOUT_FILENO) == 1;
        for (;;) {
            std::optional<Slot> slot;
            std::size_t done = 0, found = 0;
            bool allFound = false;
            {
                std::unique_lock lock(mutex_);
                auto& next = window_[printed_ % kWindow];
                printable_.wait_for(lock, std::chrono::milliseconds(200),
                                    [&] { return next.has_value() || (allFound_ && printed_ == produced_); });
                if (next) {
                    slot = std::move(next);
                    next.reset();
                    const bool held = !queue_.empty() && !admissible();
                    ++printed_;
                    if (slot->isFile) ++done_;
                    // The window moved on: the item that waited for room may go.
                    if (held && admissible()) workable_.notify_all();
                } else if (allFound_ && printed_ == produced_) {
                    break;
                }
                done = done_;
                found = found_;
                allFound = allFound_;
            }
            if (slot) {
                Session::Result& r = slot->result;
                if (r.failed) status = kExitFailure;
                if (!r.out.empty()) {
                    if (stdoutTty) progress_.wipe();
                    if (!out.write(r.out)) break;
                }
                if (!r.err.empty()) {
                    // The message follows its report, also when both go to one terminal.
                    if (!out.flush()) break;
                    progress_.wipe();
                    std::fwrite(r.err.data(), 1, r.err.size(), stderr);
                }
            }
            progress_.update(done, found, allFound);
        }
        progress_.wipe();
        return out.finish(status);
    }

    struct Slot {
        Session::Result result;
        bool isFile;
    };

    // The next item may be taken: its result has room in the window.
    bool admissible() const { return !queue_.empty() && queue_.front().first < printed_ + kWindow; }

    const Form form_;
    const unsigned workers_;
    const pf::TypeService& types_;
    const pf::Log& log_;
    Progress& progress_;

    // One lock; each kind of waiter has its own condition, so that a change
    // wakes only the thread it concerns (a wake-up is a context switch).
    std::mutex mutex_;
    std::condition_variable roomInQueue_;  // the walk
    std::condition_variable workable_;     // the workers
    std::condition_variable printable_;    // the printer
    std::deque<std::pair<std::size_t, Item>> queue_;
    std::vector<std::optional<Slot>> window_;
    std::size_t produced_ = 0, found_ = 0, printed_ = 0, done_ = 0;
    bool allFound_ = false, stop_ = false;
};

}  // namespace

int runPipeline(const Form& form, unsigned workers, const pf::TypeService& types, const pf::Log& log, bool progressShown,
                const std::function<bool(const Emit&)>& produce) {
    Progress progress(progressShown);
    Pipeline pipeline(form, workers, types, log, progress);
    return pipeline.run(produce);
}

int inspectOne(const std::string& given, const Form& form, const pf::TypeService& types, const pf::Log& log,
               const std::string& path) {
    Session session(types, log);
    const auto r = session.inspect(given, form, path);
    Output out;
    if (!out.write(r.out)) return kExitFailure;
    if (!r.err.empty()) {
        if (!out.flush()) return kExitFailure;
        std::fwrite(r.err.data(), 1, r.err.size(), stderr);
    }
    return out.finish(r.failed ? kExitFailure : 0);
}

}  // namespace vesk::cli
