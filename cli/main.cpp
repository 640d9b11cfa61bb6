// vesk-info: the inspector driven from a terminal. Each PATH goes through the
// same file-add event, routing and reports as a file dropped on the window;
// what the info store then holds is printed.
#include <algorithm>
#include <atomic>
#include <condition_variable>
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
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/Services.h"
#include "platform/TypeService.h"
#include "platform/UserDefaults.h"

namespace {

using namespace vesk;
namespace pf = vesk::platform;

enum class Mode { Text, Json, Properties };

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
    "Exit status: 0 when every PATH was inspected, 1 when one did not exist, 2 on a usage error.\n";

std::string textReport(const std::string& path, const std::map<std::string, std::string>& store) {
    std::string out = "==> " + path + " <==\n";
    for (const auto& field : kInfoFields) {
        auto it = store.find(field.key);
        if (it == store.end()) continue;
        out += std::string(field.label) + ":\n" + it->second;
        if (!it->second.empty() && it->second.back() != '\n') out += '\n';
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
        bool missing = false;
    };

    Result inspect(const std::string& given, Mode mode) {
        const std::string path = pf::absolutePath(given);
        if (!pf::fileExists(path)) return {"", "vesk-info: " + given + ": No such file or directory\n", true};
        if (mode == Mode::Properties) return {propertiesReport(path, services_.log), "", false};
        center_.post(pf::kAddFromFileNotification, pf::Value(pf::Array{pf::Value(path)}));
        queue_.drain();
        const auto snapshot = store_->snapshot();
        return {mode == Mode::Json ? jsonReport(path, snapshot) : textReport(path, snapshot), "", false};
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
    if (workers <= 1) work();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        Session::Result r;
        {
            std::unique_lock lock(mutex);
            ready.wait(lock, [&] { return results[i].has_value(); });
            r = std::move(*results[i]);
            results[i].reset();
        }
        if (r.missing) status = 1;
        std::fwrite(r.out.data(), 1, r.out.size(), stdout);
        if (!r.err.empty()) {
            std::fflush(stdout);
            std::fwrite(r.err.data(), 1, r.err.size(), stderr);
        }
    }
    for (auto& t : threads) t.join();
    std::fflush(stdout);
    return status;
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
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!endOfOptions && arg == "--version") {
            std::printf("%s\n", getAppVersionString().c_str());
            return 0;
        } else if (!endOfOptions && arg == "--json") {
            mode = Mode::Json;
        } else if (!endOfOptions && arg == "--properties") {
            mode = Mode::Properties;
        } else if (!endOfOptions && arg == "--verbose") {
            verbose = true;
        } else if (!endOfOptions && arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "vesk-info: unknown option %s\n%s", arg.c_str(), kUsage);
            return 2;
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    pf::DiscardLogSink quiet;
    pf::StderrLogSink loud;
    const pf::Log log(verbose ? static_cast<pf::LogSink&>(loud) : quiet);
    const pf::FileTypeService types;
    // Two or more files: one worker per core (the first on this thread).
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned workers = static_cast<unsigned>(std::min<std::size_t>(paths.size(), cores + 1));
    return inspectAll(paths, mode, paths.size() > 1 ? workers : 1, types, log);
}
