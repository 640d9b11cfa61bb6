// SPDX-License-Identifier: GPL-3.0-or-later
// The application delegate: writes the window title once launching has
// finished and turns documents handed over by the desktop into a file-add event.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/NotificationCenter.h"
#include "platform/Services.h"
#include "platform/UserDefaults.h"
#include "platform/Value.h"

namespace vesk {

class AppDelegate {
public:
    // Writes the title to the services' store and posts on their centre.
    explicit AppDelegate(const platform::Services& services);

    void applicationDidFinishLaunching();
    void applicationWillTerminate() {}
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }
    // application:openFiles: — posts one file-add event holding the whole list.
    void application(const std::vector<std::string>& openFiles);
    // application:openFile: — logs and answers yes; posts nothing.
    bool application(const std::string& openFile);
    void openMyDocument();

    std::string description() const;

private:
    std::shared_ptr<platform::UserDefaults> store_;
    platform::NotificationCenter& center_;
    platform::Log log_;
};

// VeskNSStringAdditions: "%@ - v%@ (xc-%@ sdk-%@)" from the application's
// information dictionary; a missing key reads "(null)".
std::string getAppVersionString();
std::string getAppVersionString(const platform::Dictionary& infoDictionary);

// The information dictionary the build generated for this application.
const platform::Dictionary& mainBundleInfoDictionary();

}  // namespace vesk
