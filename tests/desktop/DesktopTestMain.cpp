// SPDX-License-Identifier: GPL-3.0-or-later
// The GUI tests share one QApplication on the offscreen platform, and a
// scratch defaults file so no test ever reads or writes the user's store.
#include <gtest/gtest.h>

#include <QApplication>

#include "../TestSupport.h"

int main(int argc, char** argv) {
    static vesk::test::ScratchDir scratch;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_RUNTIME_DIR", scratch.path().c_str());
    qputenv("VESK_DEFAULTS_FILE", scratch.file("defaults.plist").c_str());
    qputenv("VESK_WINDOW_STATE_FILE", scratch.file("window.plist").c_str());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
