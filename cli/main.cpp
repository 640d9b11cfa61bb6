// vesk-info: the inspector driven from a terminal. Each PATH goes through the
// same file-add event, routing and reports as a file dropped on the window;
// what the info store then holds is printed.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
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
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "app/AppDelegate.h"
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

namespace {

using namespace vesk;
namespace pf = vesk::platform;

enum class Mode { Text, Json, Properties, SummaryText, SummaryJson };

// A path that could not be inspected and a failed write share status 1:
// either way the caller did not get every report it asked for.
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char* kUsage =
    "Usage: vesk-info [--json | --properties] [--summary] [-r] [--hidden] [--progress] [--verbose] PATH...\n"
    "Shows what Vesk shows for each file: image metadata, the CPU architectures\n"
    "of a bundle's executable, or the file tool's description of a library.\n"
    "\n"
    "  --json           one JSON object per path: {\"path\": ..., \"store\": {key: text}}\n"
    "  --properties     one JSON object per path: {\"path\": ..., \"properties\": dictionary or null}\n"
    "  --summary        the window's summary and privacy line of each path, as text\n"
    "                   (with --json: {\"path\", \"summary\", \"position\", \"reveals\"})\n"
    "  -r, --recursive  walk folders: every image, library and bundle in them, sorted per folder\n"
    "  --hidden         with -r, also enter hidden folders and take hidden files\n"
    "  --progress       show the progress line also when standard error is no terminal\n"
    "  --verbose        write the diagnostic log to standard error\n"
    "  --help           show this text\n"
    "  --version        show the version\n"
    "\n"
    "\"path\" is the path as given (or as found under a given folder); a name that\n"
    "is not UTF-8 also gets its exact bytes, base64, in \"pathBytes\". In the text\n"
    "form, control characters from files and names are shown escaped (\\e, \\x07,\n"
    "\\u0085, \\xff); JSON carries them as JSON escapes.\n"
    "\n"
    "Exit status: 0 when every PATH was inspected and the output written; 1 when a\n"
    "PATH does not exist, the image or library report cannot read it as a regular\n"
    "file (a folder that is no .bundle, .app, .framework or .plugin, without -r;\n"
    "a pipe, a socket, a device, no permission; its report is still printed), a\n"
    "folder or a file in it could not be reached, or standard output cannot be\n"
    "written; 2 on a usage error. A symbolic link back into the walk, to a folder\n"
    "already walked or into /proc, /sys or /dev is said once and skipped; it does\n"
    "not change the status.\n";

// Names in messages reach a terminal: nothing in them may drive the
// terminal or start a line of its own.
std::string shown(const std::string& text) { return pf::utf8::escapeLine(text); }

// The diagnostic log quotes file text as well; its lines may hold several.
class ShownStderrLogSink : public pf::LogSink {
public:
    void write(const std::string& message) override { inner_.write(pf::utf8::escapeControls(message)); }

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

// Passes the log on, and keeps what vesk-info says even without --verbose:
// a comment file that could not be written (the comment is shown all the same).
class WatchedLogSink : public pf::LogSink {
public:
    explicit WatchedLogSink(const pf::Log& log) : log_(log) {}
    void write(const std::string& message) override {
        if (message.starts_with(kCommentNotWritten)) unwritten_ = message.substr(std::strlen(kCommentNotWritten));
        log_.write(message);
    }
    std::optional<std::string> take() { return std::exchange(unwritten_, std::nullopt); }

private:
    const pf::Log& log_;
    std::optional<std::string> unwritten_;
};

// One inspector with its own store, events and main queue. Reports of
// different files are independent, so each worker thread drives one.
class Session {
public:
    Session(const pf::TypeService& types, const pf::Log& log)
        : types_(types), watch_(log), log_(watch_), services_{store_, center_, queue_, unusedGlobal_, types_, log_},
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
        if (auto why = watch_.take())
            r.err += "vesk-info: " + shown(given) + ": usercomment.xml could not be written (" + shown(*why) +
                     "); the comment is shown from memory\n";
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
    WatchedLogSink watch_;
    pf::Log log_;
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
// depth first, each folder's names sorted bytewise. The walk goes by folder
// descriptors, so no path length stops it; only the names of the folders on
// the way down are held, never the whole tree.
class Walker {
public:
    using Emit = std::function<bool(Item)>;  // false: stop, nobody reads on
    Walker(const pf::TypeService& types, bool recursive, bool hidden, Emit emit)
        : types_(types), recursive_(recursive), hidden_(hidden), emit_(std::move(emit)) {
        // The kernel's own trees hold no photos, and walking them has no end.
        struct stat root{};
        ::stat("/", &root);
        for (const char* tree : kKernelTrees) {
            struct stat st{};
            if (::stat(tree, &st) == 0 && st.st_dev != root.st_dev) kernelTrees_.push_back({tree, st.st_dev});
        }
    }

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

    // Levels of folders below a given one that are walked; deeper ones are
    // said and left, so a tree made to be endless ends here.
    static constexpr std::size_t kMaxDepth = 256;

private:
    struct Folder {
        std::string path;
        pf::FileDescriptor fd;
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

    // The folder's names, sorted; nothing when it cannot be read (errno says why).
    std::optional<std::vector<std::string>> list(int fd) {
        const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (own < 0) return std::nullopt;
        DIR* dir = ::fdopendir(own);
        if (!dir) {
            const int err = errno;
            ::close(own);
            errno = err;
            return std::nullopt;
        }
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

    // Enters the folder `name` of `parent` (the root when there is none),
    // found by a stat as `st`, once in the whole run.
    bool enter(std::vector<Folder>& stack, const Folder* parent, const std::string& name, const std::string& path,
               const struct stat& st) {
        const auto same = [&](dev_t dev, ino_t ino) { return dev == st.st_dev && ino == st.st_ino; };
        if (std::any_of(stack.begin(), stack.end(), [&](const Folder& f) { return same(f.dev, f.ino); }) ||
            std::any_of(above_.begin(), above_.end(), [&](const auto& id) { return same(id.first, id.second); }))
            return problem(path, "symbolic link back into a folder above it, not followed", false);
        if (!entered_.insert({st.st_dev, st.st_ino}).second)
            return problem(path, "a folder already walked by another way, not walked again", false);
        if (stack.size() > kMaxDepth)
            return problem(path, "more than " + std::to_string(kMaxDepth) + " folders deep (folder not walked)", true);
        pf::FileDescriptor fd(parent ? ::openat(parent->fd.get(), name.c_str(), kFolderOpen)
                                     : ::open(path.c_str(), kFolderOpen));
        struct stat opened{};
        if (!fd || ::fstat(fd.get(), &opened) != 0)
            return problem(path, std::string(std::strerror(errno)) + " (folder not walked)", true);
        // Swapped between the look and the open: the next look decides.
        if (!same(opened.st_dev, opened.st_ino))
            return problem(path, "changed while it was walked (folder not walked)", true);
        auto names = list(fd.get());
        if (!names) return problem(path, std::string(std::strerror(errno)) + " (folder not walked)", true);
        stack.push_back({path, std::move(fd), std::move(*names), 0, st.st_dev, st.st_ino});
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

    // The kernel tree the link `name` in `folder` leads into, or nothing: by
    // the device it leads to, or, for the file systems mounted inside those
    // trees, by the path the kernel gives the target.
    const char* kernelTree(int folder, const std::string& name, const struct stat& st) const {
        for (const auto& [tree, dev] : kernelTrees_)
            if (st.st_dev == dev) return tree;
        const pf::FileDescriptor target(::openat(folder, name.c_str(), O_PATH | O_CLOEXEC));
        if (!target) return nullptr;
        char real[PATH_MAX];
        const std::string self = "/proc/self/fd/" + std::to_string(target.get());
        const ssize_t n = ::readlink(self.c_str(), real, sizeof real);
        if (n <= 0 || static_cast<std::size_t>(n) >= sizeof real) return nullptr;
        const std::string_view path(real, static_cast<std::size_t>(n));
        for (const char* tree : kKernelTrees) {
            const std::string_view t(tree);
            if (path.starts_with(t) && (path.size() == t.size() || path[t.size()] == '/')) return tree;
        }
        return nullptr;
    }

    bool walk(const std::string& root, const struct stat& rootStat) {
        findFoldersAbove(root);
        std::vector<Folder> stack;
        if (!enter(stack, nullptr, root, root, rootStat)) return false;
        while (!stack.empty()) {
            Folder& top = stack.back();
            if (top.next == top.names.size()) {
                stack.pop_back();
                continue;
            }
            const std::string name = top.names[top.next++];
            const std::string path = join(top.path, name);
            struct stat st{}, entry{};
            if (::fstatat(top.fd.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
                const int err = errno;
                // Gone since the listing: no file.
                if (err == ENOENT) continue;
                if (err == EACCES) {
                    // A folder that can be listed but not entered: said once
                    // for all its names, none of which can be looked at.
                    top.next = top.names.size();
                    if (!problem(top.path, std::string(std::strerror(err)) + " (folder listed, its files not reached)",
                                 true))
                        return false;
                } else if (!problem(path, std::strerror(err), true)) {
                    return false;
                }
                continue;
            }
            if (::fstatat(top.fd.get(), name.c_str(), &st, 0) != 0) {
                const int err = errno;
                // A link that leads nowhere is no file; a link loop is said,
                // it hides no file; anything else hides one.
                if (err == ENOENT) continue;
                if (!problem(path, std::strerror(err), err != ELOOP)) return false;
                continue;
            }
            if (S_ISLNK(entry.st_mode))
                if (const char* tree = kernelTree(top.fd.get(), name, st)) {
                    if (!problem(path, std::string("symbolic link into ") + tree + ", not followed", false)) return false;
                    continue;
                }
            if (S_ISDIR(st.st_mode)) {
                if (isBundleFolder(path, types_)) {
                    if (!emit_({path, "", false})) return false;
                } else if (!enter(stack, &stack.back(), name, path, st)) {
                    return false;
                }
            } else if (S_ISREG(st.st_mode) && wanted(path)) {
                if (!emit_({path, "", false})) return false;
            }
        }
        return true;
    }

    static constexpr int kFolderOpen = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK;
    static constexpr const char* kKernelTrees[] = {"/proc", "/sys", "/dev"};

    const pf::TypeService& types_;
    bool recursive_, hidden_;
    Emit emit_;
    std::vector<std::pair<dev_t, ino_t>> above_;
    // Every folder entered in this run, so a web of links walks each once.
    std::set<std::pair<dev_t, ino_t>> entered_;
    std::vector<std::pair<const char*, dev_t>> kernelTrees_;
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
    Mode mode = Mode::Text;
    bool verbose = false, recursive = false, hidden = false, forceProgress = false;
    bool summary = false;
    std::vector<std::string> paths;
    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!endOfOptions && arg == "--") {
            endOfOptions = true;
        } else if (!endOfOptions && arg == "--help") {
            Output out;
            out.write(kUsage);
            return out.finish(0);
        } else if (!endOfOptions && arg == "--version") {
            Output out;
            out.write(getAppVersionString() + "\n");
            return out.finish(0);
        } else if (!endOfOptions && arg == "--json") {
            mode = Mode::Json;
        } else if (!endOfOptions && arg == "--properties") {
            mode = Mode::Properties;
        } else if (!endOfOptions && arg == "--summary") {
            summary = true;
        } else if (!endOfOptions && arg == "--verbose") {
            verbose = true;
        } else if (!endOfOptions && (arg == "-r" || arg == "--recursive")) {
            recursive = true;
        } else if (!endOfOptions && arg == "--hidden") {
            hidden = true;
        } else if (!endOfOptions && arg == "--progress") {
            forceProgress = true;
        } else if (!endOfOptions && arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "vesk-info: unknown option %s\n%s", shown(arg).c_str(), kUsage);
            return kExitUsage;
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.empty() || (summary && mode == Mode::Properties)) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    if (summary) mode = mode == Mode::Json ? Mode::SummaryJson : Mode::SummaryText;

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
    Progress progress(!verbose && (forceProgress || ::isatty(STDERR_FILENO) == 1));
    Pipeline pipeline(mode, workers, types, log, progress);
    return pipeline.run([&](const Walker::Emit& emit) {
        Walker walker(types, recursive, hidden, emit);
        return walker.run(paths);
    });
}
