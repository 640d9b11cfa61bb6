// vesk-info: the inspector driven from a terminal. Each PATH goes through the
// same file-add event, routing and reports as a file dropped on the window;
// what the info store then holds is printed.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <cstring>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "inspector/ImageReport.h"
#include "inspector/InfoKeys.h"
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

enum class Mode { Text, Json, Properties };

// A path that could not be inspected and a failed write share status 1:
// either way the caller did not get every report it asked for.
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char* kUsage =
    "Usage: vesk-info [--json | --properties] [--verbose] PATH...\n"
    "Shows what Vesk shows for each file: image metadata, the CPU architectures\n"
    "of a bundle's executable, or the file tool's description of a library.\n"
    "\n"
    "  --json        one JSON object per path: {\"path\": ..., \"store\": {key: text}}\n"
    "  --properties  one JSON object per path: {\"path\": ..., \"properties\": dictionary or null}\n"
    "  --verbose     write the diagnostic log to standard error\n"
    "  --help        show this text\n"
    "  --version     show the version\n"
    "\n"
    "In the text form, control characters from files and names are shown escaped\n"
    "(\\e, \\x07, \\u0085, \\xff); JSON carries them as JSON escapes.\n"
    "\n"
    "Exit status: 0 when every PATH was inspected and the output written; 1 when a\n"
    "PATH does not exist, the image or library report cannot read it as a regular\n"
    "file (a folder that is no .bundle, .app, .framework or .plugin, a pipe, a\n"
    "socket, a device, no permission; its report is still printed), or standard\n"
    "output cannot be written; 2 on a usage error.\n";

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

// Why the image or library report cannot read `path` as a regular file, or
// nothing. Only stat and a non-blocking open: a FIFO is never read.
std::optional<std::string> unreadableReason(const std::string& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
    if (!S_ISREG(st.st_mode)) return std::string("not a regular file");
    // The open is what permission bits, ACLs and the mount allow.
    const pf::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) return std::strerror(errno);
    return std::nullopt;
}

std::string textReport(const std::string& path, const std::map<std::string, std::string>& store) {
    std::string out = "==> " + shown(path) + " <==\n";
    for (const auto& field : kInfoFields) {
        auto it = store.find(field.key);
        if (it == store.end()) continue;
        const std::string value = shown(it->second);
        out += std::string(field.label) + ":\n" + value;
        if (!value.empty() && value.back() != '\n') out += '\n';
        out += '\n';
    }
    return out;
}

std::string jsonReport(const std::string& path, const std::map<std::string, std::string>& store) {
    std::string out = "{\"path\": " + pf::jsonString(path) + ", \"store\": {";
    bool first = true;
    for (const char* key : kReportKeys) {
        auto it = store.find(key);
        if (it == store.end()) continue;
        if (!first) out += ", ";
        first = false;
        out += pf::jsonString(key) + ": " + pf::jsonString(it->second);
    }
    out += "}}\n";
    return out;
}

std::string propertiesReport(const std::string& path, const pf::Log& log) {
    const auto props = readImageProperties(path, log);
    std::optional<pf::Value> value;
    if (props) value = pf::Value(*props);
    return "{\"path\": " + pf::jsonString(path) + ", \"properties\": " + pf::toJson(value ? &*value : nullptr) +
           "}\n";
}

// One inspector with its own store, events and main queue. Reports of
// different files are independent, so each worker thread drives one.
class Session {
public:
    Session(const pf::TypeService& types, const pf::Log& log)
        : services_{store_, center_, queue_, unusedGlobal_, types, log},
          inspector_(std::make_shared<ViewController>(services_)) {
        inspector_->viewDidLoad();
    }

    struct Result {
        std::string out, err;
        bool failed = false;
    };

    Result inspect(const std::string& given, Mode mode) {
        const std::string path = pf::absolutePath(given);
        struct stat st{};
        if (path.empty() || ::stat(path.c_str(), &st) != 0) {
            const int err = path.empty() ? ENOENT : errno;
            return {"", "vesk-info: " + shown(given) + ": " + std::strerror(err) + "\n", true};
        }
        Result r;
        // The bundle report reads folders; every other report reads one file.
        if (!inspector_->routesToBundleReport(path)) {
            if (auto reason = unreadableReason(path)) {
                r.err = "vesk-info: " + shown(given) + ": " + *reason + "\n";
                r.failed = true;
            }
        }
        if (mode == Mode::Properties) {
            r.out = propertiesReport(path, services_.log);
            return r;
        }
        center_.post(pf::kAddFromFileNotification, pf::Value(pf::Array{pf::Value(path)}));
        queue_.drain();
        const auto snapshot = store_->snapshot();
        r.out = mode == Mode::Json ? jsonReport(path, snapshot) : textReport(path, snapshot);
        return r;
    }

private:
    // Never the window's store: the terminal program leaves it alone.
    std::shared_ptr<pf::MemoryUserDefaults> store_ = std::make_shared<pf::MemoryUserDefaults>();
    pf::NotificationCenter center_;
    pf::DrainedQueue queue_;
    // Only the Open panel queues work there, and the terminal has none.
    pf::DrainedQueue unusedGlobal_;
    pf::Services services_;
    std::shared_ptr<ViewController> inspector_;
};

// Inspects every path, on up to `workers` threads, and writes the results in
// the order of the paths as soon as each one's turn has come.
int inspectAll(const std::vector<std::string>& paths, Mode mode, unsigned workers, const pf::TypeService& types,
               const pf::Log& log) {
    std::vector<std::optional<Session::Result>> results(paths.size());
    std::mutex mutex;
    std::condition_variable ready;
    std::atomic<std::size_t> next{0};

    auto work = [&] {
        Session session(types, log);
        for (std::size_t i; (i = next++) < paths.size();) {
            auto r = session.inspect(paths[i], mode);
            std::lock_guard lock(mutex);
            results[i] = std::move(r);
            ready.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (unsigned w = 1; w < workers; ++w) threads.emplace_back(work);

    int status = 0;
    Output out;
    if (workers <= 1) work();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        Session::Result r;
        {
            std::unique_lock lock(mutex);
            ready.wait(lock, [&] { return results[i].has_value(); });
            r = std::move(*results[i]);
            results[i].reset();
        }
        if (r.failed) status = kExitFailure;
        if (!out.write(r.out)) break;
        if (!r.err.empty()) {
            // The message follows its report, also when both go to one terminal.
            if (!out.flush()) break;
            std::fwrite(r.err.data(), 1, r.err.size(), stderr);
        }
    }
    // Nobody will read the rest: the workers take no further path.
    if (out.failed()) next = paths.size();
    for (auto& t : threads) t.join();
    return out.finish(status);
}

}  // namespace

int main(int argc, char** argv) {
    Mode mode = Mode::Text;
    bool verbose = false;
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
        } else if (!endOfOptions && arg == "--verbose") {
            verbose = true;
        } else if (!endOfOptions && arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "vesk-info: unknown option %s\n%s", shown(arg).c_str(), kUsage);
            return kExitUsage;
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.empty()) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }

    pf::DiscardLogSink quiet;
    ShownStderrLogSink loud;
    const pf::Log log(verbose ? static_cast<pf::LogSink&>(loud) : quiet);
    const pf::FileTypeService types;
    // Two or more files: one worker per core (the first on this thread).
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned workers = static_cast<unsigned>(std::min<std::size_t>(paths.size(), cores + 1));
    return inspectAll(paths, mode, paths.size() > 1 ? workers : 1, types, log);
}
