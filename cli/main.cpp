// vesk-info: the inspector driven from a terminal. Each PATH goes through the
// same file-add event, routing and reports as a file dropped on the window;
// what the info store then holds is printed.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "inspector/InfoKeys.h"
#include "inspector/ViewController.h"
#include "platform/Dispatch.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

namespace {

using namespace vesk;
namespace pf = vesk::platform;

enum class Mode { Text, Json, Properties };

class DiscardLogSink : public pf::LogSink {
public:
    void write(const std::string&) override {}
};

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

void printText(const std::string& path, const std::map<std::string, std::string>& store) {
    std::string out = "==> " + path + " <==\n";
    for (const auto& field : kInfoFields) {
        auto it = store.find(field.key);
        if (it == store.end()) continue;
        out += std::string(field.label) + ":\n" + it->second;
        if (!it->second.empty() && it->second.back() != '\n') out += '\n';
        out += '\n';
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
}

void printJson(const std::string& path, const std::map<std::string, std::string>& store) {
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
    std::fwrite(out.data(), 1, out.size(), stdout);
}

void printProperties(const std::string& path) {
    const auto props = ViewController::exif(path);
    std::optional<pf::Value> value;
    if (props) value = pf::Value(*props);
    std::string out = "{\"path\": " + pf::jsonString(path) + ", \"properties\": " +
                      pf::toJson(value ? &*value : nullptr) + "}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
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

    DiscardLogSink quiet;
    if (!verbose) pf::setLogSink(&quiet);

    // Never the window's store: the terminal program leaves it alone.
    auto store = std::make_shared<pf::MemoryUserDefaults>();
    pf::NotificationCenter center;
    auto inspector = ViewController::create(store, &center);
    inspector->viewDidLoad();

    int status = 0;
    for (const std::string& given : paths) {
        const std::string path = pf::absolutePath(given);
        if (!pf::fileExists(path)) {
            std::fprintf(stderr, "vesk-info: %s: No such file or directory\n", given.c_str());
            status = 1;
            continue;
        }
        if (mode == Mode::Properties) {
            printProperties(path);
            continue;
        }
        center.post(pf::kAddFromFileNotification, pf::Value(pf::Array{pf::Value(path)}));
        pf::defaultMainQueue().drain();
        const auto snapshot = store->snapshot();
        if (mode == Mode::Json)
            printJson(path, snapshot);
        else
            printText(path, snapshot);
    }
    std::fflush(stdout);
    inspector.reset();
    pf::setLogSink(nullptr);
    return status;
}
