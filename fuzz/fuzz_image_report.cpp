// The whole image report on any bytes: routing, the reader, the merges, the
// comment file and its read-back, the store.
#include <cstdint>

#include "FuzzSupport.h"
#include "inspector/ViewController.h"
#include "platform/Dispatch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vesk;
    fuzz::silenceLog();
    static auto store = std::make_shared<platform::MemoryUserDefaults>();
    static platform::NotificationCenter center;
    static auto inspector = [] {
        auto vc = ViewController::create(store, &center);
        vc->viewDidLoad();
        return vc;
    }();
    const std::string path = fuzz::scratchFile(data, size, "photo.jpg");
    center.post(platform::kAddFromFileNotification, platform::Value(platform::Array{platform::Value(path)}));
    platform::defaultMainQueue().drain();
    return 0;
}
