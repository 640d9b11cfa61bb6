// SPDX-License-Identifier: GPL-3.0-or-later
// TIFF directories (IFD0's or a maker note's) whose entries all share one data
// block, through the whole image report: the reader, the merges, the texts
// and the store.
#include <cstdint>

#include "FuzzSupport.h"
#include "Shapes.h"
#include "inspector/ViewController.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vesk;
    fuzz::Choices in(data, size);
    const std::string tiff = in.byte() % 2 ? fuzz::sharedBlockMakerNoteTiff(in) : fuzz::sharedBlockTiff(in);
    auto& quiet = fuzz::quietServices();
    static auto inspector = [&] {
        auto vc = std::make_shared<ViewController>(quiet.services);
        vc->viewDidLoad();
        return vc;
    }();
    const std::string path =
        fuzz::scratchFile(reinterpret_cast<const std::uint8_t*>(tiff.data()), tiff.size(), "shared.tif");
    inspector->performGetImageInfo(path);
    return 0;
}
