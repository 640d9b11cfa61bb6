// SPDX-License-Identifier: GPL-3.0-or-later
// Property lists shaped to be hostile (deep, wide, shared, cyclic) through
// every reader that takes one: the comment file's read-back and a bundle's
// Info.plist on the way to its executable.
#include <sys/stat.h>

#include <cstdint>

#include "FuzzSupport.h"
#include "Shapes.h"
#include "platform/PropertyList.h"
#include "platform/macho/Bundle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vesk;
    fuzz::Choices in(data, size);
    const std::string list = in.byte() % 2 ? fuzz::binaryPropertyList(in) : fuzz::xmlPropertyList(in);
    const auto bytes = reinterpret_cast<const std::uint8_t*>(list.data());

    const std::string comment = fuzz::scratchFile(bytes, list.size(), "usercomment.xml");
    if (auto dict = platform::dictionaryWithContentsOfFile(comment))
        (void)platform::describe(platform::Value(std::move(*dict)));

    // A flat bundle: Info.plist at its root names the executable.
    static const std::string folder = [] {
        std::string f = fuzz::scratchDir() + "/Fuzz.bundle";
        ::mkdir(f.c_str(), 0700);
        return f;
    }();
    (void)fuzz::scratchFile(bytes, list.size(), "Fuzz.bundle/Info.plist");
    if (auto b = platform::Bundle::bundleWithPath(folder)) (void)b->executableArchitectures(fuzz::quietServices().services.log);
    return 0;
}
