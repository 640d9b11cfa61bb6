// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the hostile inputs the tests make into a folder, so bench/hostile.py
// can run whole vesk-info processes over them. Big files are sparse.
#include <cstdio>
#include <filesystem>

#include "../tests/image/HostileImages.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    std::filesystem::create_directories(argv[1]);
    for (const auto& file : vesk::test::hostile::hostileFiles())
        std::printf("%s\n", vesk::test::hostile::writeSparse(std::filesystem::path(argv[1]) / file.name, file.head, file.size).c_str());
    return 0;
}
