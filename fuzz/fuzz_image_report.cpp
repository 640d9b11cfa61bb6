// SPDX-License-Identifier: GPL-3.0-or-later
// The whole image report on any bytes: routing, the reader, the merges, the
// comment file and its read-back, the store.
#include <cstdint>

#include "FuzzSupport.h"
#include "inspector/ViewController.h"
#include "platform/Dispatch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vesk;
    auto& quiet = fuzz::quietServices();
    static auto inspector = [&] {
        auto vc = std::make_shared<ViewController>(quiet.services);
        vc->viewDidLoad();
        return vc;
    }();
    const std::string path = fuzz::scratchFile(data, size, "photo.jpg");
    quiet.center.post(platform::kAddFromFileNotification, platform::Value(platform::Array{platform::Value(path)}));
    quiet.mainQueue.drain();
    return 0;
}
