// SPDX-License-Identifier: GPL-3.0-or-later
// Rewrites a defaults store for ever, alternating two large values and their
// parity as one batch, so that a kill -9 lands in the middle of a save sooner
// or later.
#include <string>

#include "platform/UserDefaults.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    vesk::platform::StderrLogSink sink;
    const vesk::platform::Log log(sink);
    vesk::platform::FileUserDefaults store(argv[1], log);
    const std::string a(64 * 1024, 'a'), b(64 * 1024, 'b');
    for (unsigned long i = 0;; ++i)
        store.apply({{"value", i % 2 ? a : b}, {"parity", i % 2 ? "odd" : "even"}});
}
