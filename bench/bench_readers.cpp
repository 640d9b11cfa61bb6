// SPDX-License-Identifier: GPL-3.0-or-later
// In-process costs: the image reader and the whole image report per file, the
// Mach-O reader, runCommand start to finish, and rendering a large dictionary.
// Files come from VESK_BENCH_CORPUS (made by scripts/bench) and samples/;
// hostile inputs (tags sharing one block, ICC pieces without a scan, huge
// EPS, PSD, PNG and CRW files, sparse) are made in a temporary folder.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "../tests/image/HostileImages.h"

#include "inspector/InfoKeys.h"
#include "inspector/ImageReport.h"
#include "inspector/ViewController.h"
#include "../tests/regressions/HostilePropertyLists.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/Process.h"
#include "platform/Services.h"
#include "platform/TypeService.h"
#include "platform/UserDefaults.h"
#include "platform/Value.h"
#include "platform/image/AppleMakerNote.h"
#include "platform/image/ImageSource.h"
#include "platform/macho/Bundle.h"
#include "platform/macho/MachOReader.h"

namespace fs = std::filesystem;
using namespace vesk;

namespace {

std::string corpus() {
    const char* dir = std::getenv("VESK_BENCH_CORPUS");
    return dir ? dir : "";
}

void BM_ImageReader(benchmark::State& state, std::string path) {
    platform::DiscardLogSink quiet;
    const platform::Log log(quiet);
    for (auto _ : state) benchmark::DoNotOptimize(readImageProperties(path, log));
}

void BM_ImageReport(benchmark::State& state, std::string path) {
    platform::DiscardLogSink quiet;
    platform::NotificationCenter center;
    platform::DrainedQueue queue;
    const platform::FileTypeService types;
    const platform::Services services{std::make_shared<platform::MemoryUserDefaults>(), center, queue, queue, types,
                                      platform::Log(quiet)};
    auto inspector = std::make_shared<ViewController>(services);
    for (auto _ : state) inspector->performGetImageInfo(path);
}

// The whole image report (reader, then the six fields) on a hostile file;
// "shown" is the bytes of the fields, which the budgets keep under 1 MB.
void BM_HostileReport(benchmark::State& state, std::string path, std::string commentFolder) {
    platform::DiscardLogSink quiet;
    const platform::Log log(quiet);
    std::size_t shown = 0;
    for (auto _ : state) {
        const ImageReport report = buildImageReport(readImageProperties(path, log), commentFolder);
        shown = 0;
        for (const auto& field : report.fields) shown += field ? field->size() : 0;
    }
    state.counters["shown"] = static_cast<double>(shown);
}

void BM_BundleArchitectures(benchmark::State& state, std::string path) {
    platform::DiscardLogSink quiet;
    const platform::Log log(quiet);
    for (auto _ : state) {
        auto bundle = platform::Bundle::bundleWithPath(path);
        benchmark::DoNotOptimize(bundle->executableArchitectures(log));
    }
}

// The Mach-O reader alone on the executable: open, read the headers, close.
void BM_MachOReader(benchmark::State& state, std::string executable) {
    for (auto _ : state) {
        auto source = platform::macho::FileSource::open(executable);
        benchmark::DoNotOptimize(platform::macho::parse(*source));
    }
}

void BM_RunCommand(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(platform::runCommand({"/bin/true"}));
}

void BM_RunFileTool(benchmark::State& state) {
    const std::string sample = std::string(VESK_SOURCE_DIR) + "/samples/Nikon_COOLPIX_P1.jpg";
    for (auto _ : state) benchmark::DoNotOptimize(platform::runCommand({"/usr/bin/file", sample}));
}

void BM_RenderLargeDictionary(benchmark::State& state) {
    platform::Dictionary top;
    for (int i = 0; i < 200; ++i) {
        platform::Dictionary sub;
        for (int j = 0; j < 20; ++j)
            sub.emplace("Key" + std::to_string(j), j % 3 ? platform::Value(j * 0.25) : platform::Value("text value"));
        sub.emplace("List", platform::Value(platform::Array(16, platform::Value(1234))));
        top.emplace("{Dict" + std::to_string(i) + "}", platform::Value(std::move(sub)));
    }
    const platform::Value v(std::move(top));
    std::size_t bytes = 0;
    for (auto _ : state) bytes += platform::describe(v).size();
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

fs::path hostileDir;

void registerHostileFiles() {
    namespace h = test::hostile;
    std::string tmpl = (fs::temp_directory_path() / "vesk-bench-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) return;
    hostileDir = tmpl;
    for (const auto& file : h::hostileFiles()) {
        const std::string path = h::writeSparse(hostileDir / file.name, file.head, file.size);
        benchmark::RegisterBenchmark((std::string("HostileReport/") + file.name).c_str(), BM_HostileReport, path,
                                     hostileDir.string())
            ->Unit(benchmark::kMillisecond);
    }
}

// The whole report over the worst property lists the tests make: as a user
// comment (written to usercomment.xml and read back), as a bundle's
// Info.plist, and in an Apple maker note. Each must stay far below a second.
// The largest lists within the budgets: what a report may still cost.
const test::hostile::HostileList kWithinBudget[] = {
    {"BinarySharedArrays15Levels", [] { return test::hostile::sharedBinaryArrays(15); }},
    {"XmlDictionary40000Keys", [] { return test::hostile::wideXmlDictionary(40'000); }},
};

std::string scratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    const fs::path dir = fs::path(tmp ? tmp : "/tmp") / ("vesk-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace);
    return dir.string();
}

void BM_HostileComment(benchmark::State& state, std::string list) {
    const std::string folder = scratchFolder();
    const platform::Dictionary exif{{"UserComment", platform::Value(list)}};
    for (auto _ : state)
        benchmark::DoNotOptimize(buildImageReport(
            platform::Dictionary{{platform::kImagePropertyExifDictionary, platform::Value(exif)}}, folder));
    fs::remove_all(folder);
}

void BM_HostileInfoPlist(benchmark::State& state, std::string list) {
    const fs::path bundle = fs::path(scratchFolder()) / "Hostile.bundle";
    fs::create_directories(bundle / "Contents");
    std::ofstream(bundle / "Contents/Info.plist", std::ios::binary) << list;
    BM_BundleArchitectures(state, bundle.string());
    fs::remove_all(bundle.parent_path());
}

void BM_HostileAppleNote(benchmark::State& state, std::string list) {
    const auto bytes = test::hostile::appleNoteHolding(list);
    for (auto _ : state) benchmark::DoNotOptimize(platform::image::readAppleMakerNote(bytes));
}

void registerHostileList(const test::hostile::HostileList& input) {
    const std::string list = input.make();
    // Filter-friendly names: blanks become underscores, commas go.
    std::string name;
    for (const char c : std::string_view(input.name))
        if (c != ',') name += c == ' ' ? '_' : c;
    benchmark::RegisterBenchmark(("HostileComment/" + name).c_str(), BM_HostileComment, list)
        ->Unit(benchmark::kMillisecond);
    if (list.size() < (1u << 20))
        benchmark::RegisterBenchmark(("HostileInfoPlist/" + name).c_str(), BM_HostileInfoPlist, list)
            ->Unit(benchmark::kMillisecond);
    if (list.starts_with("bplist"))
        benchmark::RegisterBenchmark(("HostileAppleNote/" + name).c_str(), BM_HostileAppleNote, list)
            ->Unit(benchmark::kMillisecond);
}

void registerFiles() {
    std::vector<fs::path> images;
    for (const auto& e : fs::directory_iterator(fs::path(VESK_SOURCE_DIR) / "samples"))
        if (e.path().extension() == ".jpg" || e.path().extension() == ".heic") images.push_back(e.path());
    if (!corpus().empty()) {
        for (const char* name : {"generated.jpg", "generated.tif", "generated.jp2", "huge.tif"})
            if (fs::exists(fs::path(corpus()) / name)) images.push_back(fs::path(corpus()) / name);
    }
    std::sort(images.begin(), images.end());
    for (const auto& p : images) {
        benchmark::RegisterBenchmark(("ImageReader/" + p.filename().string()).c_str(), BM_ImageReader, p.string());
        benchmark::RegisterBenchmark(("ImageReport/" + p.filename().string()).c_str(), BM_ImageReport, p.string());
    }
    if (!corpus().empty()) {
        for (const char* name : {"Thin.bundle", "Universal.bundle", "Huge.bundle"})
            if (fs::exists(fs::path(corpus()) / name)) {
                const auto bundle = (fs::path(corpus()) / name).string();
                benchmark::RegisterBenchmark((std::string("BundleArchitectures/") + name).c_str(),
                                             BM_BundleArchitectures, bundle);
                if (auto exe = platform::Bundle::bundleWithPath(bundle)->executablePath())
                    benchmark::RegisterBenchmark((std::string("MachOReader/") + name).c_str(), BM_MachOReader, *exe);
            }
    }
}

}  // namespace

BENCHMARK(BM_RunCommand);
BENCHMARK(BM_RunFileTool);
BENCHMARK(BM_RenderLargeDictionary);

int main(int argc, char** argv) {
    registerFiles();
    registerHostileFiles();
    for (const auto& list : test::hostile::kHostileLists) registerHostileList(list);
    for (const auto& list : kWithinBudget) registerHostileList(list);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!hostileDir.empty()) fs::remove_all(hostileDir);
    return 0;
}
