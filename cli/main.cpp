// vesk-info: the inspector driven from a terminal. Each PATH goes through the
// same file-add event, routing and reports as a file dropped on the window;
// what the info store then holds is printed.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/Options.h"
#include "inspector/ImageReport.h"
#include "inspector/InfoKeys.h"
#include "inspector/ReportOutcome.h"
#include "inspector/ReportText.h"
#include "inspector/Summary.h"
#include "inspector/ViewController.h"
#include "platform/Dispatch.h"
#include "platform/FileDescriptor.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/Services.h"
#include "platform/TypeService.h"
#include "platform/UserDefaults.h"
#include "platform/Utf8.h"
#include "platform/Versions.h"

namespace {

using namespace vesk;
namespace pf = vesk::platform;

enum class Mode { Text, Json, Properties, SummaryText, SummaryJson };

// A path that could not be inspected and a failed write share status 1:
// either way the caller did not get every report it asked for.
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Text from files and their names reaches a terminal: nothing in it may
// drive the terminal.
std::string shown(const std::string& text) { return pf::utf8::escapeControls(text); }

// The diagnostic log quotes file text as well.
class ShownStderrLogSink : public pf::LogSink {
public:
    void write(const std::string& message) override { inner_.write(shown(message)); }

private:
    pf::StderrLogSink inner_;
};

// Standard output, every write checked: a full disk or a closed descriptor
// must not pass for a report delivered. Says so once on standard error.
class Output {
public:
    bool write(const std::string& text) {
        if (failed_) return false;
        errno = 0;
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::ferror(stdout)) fail(errno);
        return !failed_;
    }
    bool flush() {
        if (failed_) return false;
        errno = 0;
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) fail(errno);
        return !failed_;
    }
    // The status to leave with, the output flushed.
    int finish(int status) { return flush() ? status : kExitFailure; }
    bool failed() const { return failed_; }

private:
    void fail(int err) {
        failed_ = true;
        std::fprintf(stderr, "vesk-info: write error on standard output: %s\n", std::strerror(err ? err : EIO));
    }
    bool failed_ = false;
};

std::string jsonReport(const std::string& given, const std::map<std::string, std::string>& store) {
    // Room for the texts and a little escaping, so the report is seldom moved.
    std::size_t size = 64 + 2 * given.size();
    for (const auto& [key, text] : store) size += key.size() + text.size() + text.size() / 16 + 8;
    std::string out;
    out.reserve(size);
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "{" + text at -O3.
    out += '{';
    out += jsonPathMembers(given);
    out += ", \"store\": {";
    bool first = true;
    for (const char* key : kReportKeys) {
        auto it = store.find(key);
        if (it == store.end()) continue;
        if (!first) out += ", ";
        first = false;
        pf::appendJsonString(out, it->first);
        out += ": ";
        pf::appendJsonString(out, it->second);
    }
    out += "}}\n";
    return out;
}

// A folder kind the type service names a bundle (.bundle, .app, .framework,
// .plugin) is one thing to inspect, never a folder to walk into.
bool isBundleFolder(const std::string& path, const pf::TypeService& types) {
    const auto type = types.typeOfFile(path);
    return type && types.conformsTo(*type, pf::kUTTypeBundle);
}

// The working directory, asked once: vesk-info never changes it.
const std::string& workingDirectory() {
    static const std::string cwd = pf::currentDirectory();
    return cwd;
}

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

// One inspector with its own store, events and main queue. Reports of
// different files are independent, so each worker thread drives one.
class Session {
public:
    Session(const pf::TypeService& types, const pf::Log& log)
        : types_(types), services_{store_, center_, queue_, unusedGlobal_, types_, log},
          inspector_(std::make_shared<ViewController>(services_)) {
        inspector_->viewDidLoad();
    }

    struct Result {
        std::string out, err;
        bool failed = false;
    };

    Result inspect(const std::string& given, Mode mode) {
        types_.forget();
        const std::string path = pf::absolutePath(given, workingDirectory());
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
        center_.post(pf::kAddFromFileNotification, pf::Value(pf::Array{pf::Value(path)}));
        queue_.drain();
        if (mode == Mode::Json || mode == Mode::Text) {
            // Read in place: the report's texts are not copied out first.
            store_->read([&](const std::map<std::string, std::string>& values) {
                r.out = mode == Mode::Json ? jsonReport(given, values) : reportText(given, values);
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

private:
    // Never the window's store: the terminal program leaves it alone.
    std::shared_ptr<pf::MemoryUserDefaults> store_ = std::make_shared<pf::MemoryUserDefaults>();
    pf::NotificationCenter center_;
    pf::DrainedQueue queue_;
    // Only the Open panel queues work there, and the terminal has none.
    pf::DrainedQueue unusedGlobal_;
    ReportTypes types_;
    pf::Services services_;
    std::shared_ptr<ViewController> inspector_;
};

// One entry of the stream: a path to inspect, or a problem the walk met,
// said in its place among the reports.
struct Item {
    std::string path;
    std::string problem;  // set: no path, this line goes to standard error
    bool failed = false;  // the problem makes the exit status 1
};

// Yields the paths to inspect in order. Without -r, the arguments as given;
// with -r, a folder argument stands for the files Vesk reads under it,
// depth first, each folder's names sorted bytewise. Only the names of the
// folders on the way down are held, never the whole tree.
class Walker {
public:
    using Emit = std::function<bool(Item)>;  // false: stop, nobody reads on
    Walker(const pf::TypeService& types, bool recursive, bool hidden, Emit emit)
        : types_(types), recursive_(recursive), hidden_(hidden), emit_(std::move(emit)) {}

    bool run(const std::vector<std::string>& args) {
        for (const auto& arg : args) {
            struct stat st{};
            if (recursive_ && ::stat(arg.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && !isBundleFolder(arg, types_)) {
                if (!walk(arg, st)) return false;
            } else if (!emit_({arg, "", false})) {
                return false;
            }
        }
        return true;
    }

private:
    struct Folder {
        std::string path;
        std::vector<std::string> names;
        std::size_t next = 0;
        dev_t dev;
        ino_t ino;
    };

    static std::string join(const std::string& folder, const std::string& name) {
        return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
    }

    bool problem(const std::string& path, const std::string& what, bool failed) {
        return emit_({"", "vesk-info: " + shown(path) + ": " + what + "\n", failed});
    }

    // The folder's names, sorted; nothing when it cannot be read.
    std::optional<std::vector<std::string>> list(const std::string& path) {
        DIR* dir = ::opendir(path.c_str());
        if (!dir) return std::nullopt;
        std::vector<std::string> names;
        errno = 0;
        while (const dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            if (!hidden_ && name[0] == '.') continue;
            names.push_back(name);
        }
        const int err = errno;
        ::closedir(dir);
        if (err != 0) {
            errno = err;
            return std::nullopt;
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // Enters `path` unless it is one of the folders above it (a link back).
    bool enter(std::vector<Folder>& stack, const std::string& path, const struct stat& st) {
        const auto same = [&](dev_t dev, ino_t ino) { return dev == st.st_dev && ino == st.st_ino; };
        if (std::any_of(stack.begin(), stack.end(), [&](const Folder& f) { return same(f.dev, f.ino); }) ||
            std::any_of(above_.begin(), above_.end(), [&](const auto& id) { return same(id.first, id.second); }))
            return problem(path, "symbolic link back into a folder above it, not followed", false);
        auto names = list(path);
        if (!names) return problem(path, std::string(std::strerror(errno)) + " (folder not walked)", true);
        stack.push_back({path, std::move(*names), 0, st.st_dev, st.st_ino});
        return true;
    }

    // Images of every kind the type service knows and Mach-O libraries, by
    // name or by first bytes; bundle folders as themselves. A file the type
    // service cannot open is still handed on, so its report says why.
    bool wanted(const std::string& path) {
        const auto type = types_.typeOfFile(path);
        if (!type) return true;
        return types_.conformsTo(*type, "public.image") || types_.conformsTo(*type, "com.apple.mach-o-dylib");
    }

    // The folders above the root: a link to one of them would lead back
    // into the root, and walk files never asked for on the way.
    void findFoldersAbove(const std::string& root) {
        above_.clear();
        char* real = ::realpath(root.c_str(), nullptr);
        if (!real) return;
        std::string path = real;
        std::free(real);
        while (path.size() > 1) {
            path = pf::deletingLastPathComponent(path);
            struct stat st{};
            if (path.empty() || ::stat(path.c_str(), &st) != 0) break;
            above_.emplace_back(st.st_dev, st.st_ino);
        }
    }

    bool walk(const std::string& root, const struct stat& rootStat) {
        findFoldersAbove(root);
        std::vector<Folder> stack;
        if (!enter(stack, root, rootStat)) return false;
        while (!stack.empty()) {
            Folder& top = stack.back();
            if (top.next == top.names.size()) {
                stack.pop_back();
                continue;
            }
            const std::string path = join(top.path, top.names[top.next++]);
            struct stat st{};
            if (::stat(path.c_str(), &st) != 0) {
                // A link that leads nowhere is no file; a link loop is said.
                if (errno == ELOOP && !problem(path, std::strerror(ELOOP), false)) return false;
                continue;
            }
            if (S_ISDIR(st.st_mode)) {
                if (isBundleFolder(path, types_)) {
                    if (!emit_({path, "", false})) return false;
                } else if (!enter(stack, path, st)) {
                    return false;
                }
            } else if (S_ISREG(st.st_mode) && wanted(path)) {
                if (!emit_({path, "", false})) return false;
            }
        }
        return true;
    }

    const pf::TypeService& types_;
    bool recursive_, hidden_;
    Emit emit_;
    std::vector<std::pair<dev_t, ino_t>> above_;
};

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

    Pipeline(Mode mode, unsigned workers, const pf::TypeService& types, const pf::Log& log, Progress& progress)
        : mode_(mode), workers_(std::max(1u, workers)), types_(types), log_(log), progress_(progress),
          window_(kWindow) {}

    int run(const std::function<bool(const Walker::Emit&)>& produce) {
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
                isFile ? session.inspect(item.path, mode_) : Session::Result{"", std::move(item.problem), item.failed};
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

    const Mode mode_;
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

// One path, no folder to walk: inspected on this thread, no other started.
int inspectOne(const std::string& given, Mode mode, const pf::TypeService& types, const pf::Log& log) {
    Session session(types, log);
    const auto r = session.inspect(given, mode);
    Output out;
    if (!out.write(r.out)) return kExitFailure;
    if (!r.err.empty()) {
        if (!out.flush()) return kExitFailure;
        std::fwrite(r.err.data(), 1, r.err.size(), stderr);
    }
    return out.finish(r.failed ? kExitFailure : 0);
}

}  // namespace

int main(int argc, char** argv) {
    const cli::ParsedOptions parsed = cli::parseOptions(argc, argv);
    switch (parsed.action) {
        case cli::ParsedOptions::Action::UsageError:
            std::fprintf(stderr, "vesk-info: %s\nTry 'vesk-info --help' for more information.\n", parsed.error.c_str());
            return kExitUsage;
        case cli::ParsedOptions::Action::Help: {
            Output out;
            out.write(cli::helpText());
            return out.finish(0);
        }
        case cli::ParsedOptions::Action::Version: {
            Output out;
            out.write("vesk-info " VESK_VERSION " (Exiv2 " + pf::exiv2Version() + ", libplist " + pf::libplistVersion() +
                      ", libheif " + pf::libheifVersion() + ")\n");
            return out.finish(0);
        }
        case cli::ParsedOptions::Action::Run: break;
    }
    const cli::Options& options = parsed.options;
    const auto& paths = options.paths;
    const bool verbose = options.verbose, recursive = options.recursive;
    Mode mode = options.json ? Mode::Json : options.properties ? Mode::Properties : Mode::Text;
    if (options.summary) mode = mode == Mode::Json ? Mode::SummaryJson : Mode::SummaryText;

    pf::DiscardLogSink quiet;
    ShownStderrLogSink loud;
    const pf::Log log(verbose ? static_cast<pf::LogSink&>(loud) : quiet);
    const pf::FileTypeService types;
    if (paths.size() == 1 && !recursive) return inspectOne(paths[0], mode, types, log);

    // One worker per core; this thread prints, the walk has its own.
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned workers =
        recursive ? cores : static_cast<unsigned>(std::min<std::size_t>(paths.size(), cores));
    // The diagnostic log shares standard error: no progress line across it.
    Progress progress(!verbose && (options.progress || ::isatty(STDERR_FILENO) == 1));
    Pipeline pipeline(mode, workers, types, log, progress);
    return pipeline.run([&](const Walker::Emit& emit) {
        // -q: the notes of the walk (nothing missing) are not said.
        Walker walker(types, recursive, options.hidden, [&](Item item) {
            if (options.quiet && !item.problem.empty() && !item.failed) return true;
            return emit(std::move(item));
        });
        return walker.run(paths);
    });
}
