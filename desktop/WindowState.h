// SPDX-License-Identifier: GPL-3.0-or-later
// What the window remembers between runs, apart from the info store (whose
// report fields start empty at every launch): its size, its splitters, the
// view last chosen, and the last ten files shown (File > Open Recent). Kept as
// the store is kept, a property list beside it: read only when it is a
// regular file of at most kMaxWindowStateBytes, replaced atomically, no lock
// file (one held by another process made Quit wait half a minute).
#pragma once

#include <QObject>
#include <QStringList>
#include <cstddef>
#include <functional>
#include <string>

#include "platform/Value.h"

class QMenu;
class QWidget;

namespace vesk::desktop {

class DetailsPane;
class MainWindow;

class WindowState : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxRecentFiles = 10;
    // Real ones are a few KB: ten paths and a few window geometries.
    static constexpr std::size_t kMaxWindowStateBytes = 256 << 10;
    // About how many characters of a path Open Recent shows.
    static constexpr int kMenuChars = 60;

    // `open` shows a file again, as a drop would.
    WindowState(MainWindow& window, DetailsPane& details, const QString& settingsFile,
                std::function<void(const std::string&)> open);

    // Puts back what the last run saved; nothing when it saved nothing.
    void restore();
    // Saves size, splitters, view and recent files; also done when the window closes.
    void save();
    // `path` is on show: first in the recent list, once. Files gone from the
    // disk leave the list whenever the menu is built.
    void noteShown(const std::string& path);

    QStringList recentFiles() const { return recent_; }
    QMenu* recentMenu() const { return menu_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuildMenu();

    MainWindow& window_;
    DetailsPane& details_;
    std::string file_;
    std::function<void(const std::string&)> open_;
    QStringList recent_;
    QMenu* menu_;
};

// Makes `window` fit the available room of the screen it is on (or of the
// primary one) and moves it wholly onto it.
void fitOnScreen(QWidget& window);

// VESK_WINDOW_STATE_FILE when set, else window.plist in $XDG_CONFIG_HOME/vesk
// (~/.config/vesk).
QString windowStateFilePath();

}  // namespace vesk::desktop
