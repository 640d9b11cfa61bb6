// SPDX-License-Identifier: GPL-3.0-or-later
// Show in Folder as the desktop does it: the session's file manager is asked
// to show the folder with the file selected (org.freedesktop.FileManager1's
// ShowItems over D-Bus); when none answers, the folder is opened with the
// inspector's opener instead. Never waits for either.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <optional>
#include <string>

namespace vesk::desktop {

class ShowInFolder : public QObject {
    Q_OBJECT
public:
    // `openFolder` opens the folder of a path when no file manager answers.
    // The session bus is reached at the first show, not at launch.
    explicit ShowInFolder(std::function<void(const std::string& path)> openFolder, QObject* parent = nullptr);

    // Asks for `path` (the file system's bytes) to be shown; returns at once.
    void show(const std::string& path);
    void setBus(const QDBusConnection& bus) { bus_ = bus; }

    static constexpr const char* kService = "org.freedesktop.FileManager1";
    static constexpr const char* kObjectPath = "/org/freedesktop/FileManager1";
    // A file manager that takes longer is taken for none.
    static constexpr int kTimeoutMs = 3000;

private:
    std::optional<QDBusConnection> bus_;
    std::function<void(const std::string&)> openFolder_;
};

}  // namespace vesk::desktop
