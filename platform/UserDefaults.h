// SPDX-License-Identifier: GPL-3.0-or-later
// The user-defaults store behind the info store: text values under text keys,
// safe to use from any thread, with observers for bound window fields. The
// file store also keeps, unseen, whatever else its file held.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "platform/Value.h"

namespace vesk::platform {

class UserDefaults {
public:
    // Called after each change, on the thread that made it; nothing means removed.
    using Observer = std::function<void(const std::string& key, const std::optional<std::string>& value)>;

    // One write of a batch: a text to store, or nothing to remove the key.
    struct Change {
        std::string key;
        std::optional<std::string> value;
    };

    virtual ~UserDefaults() = default;

    void set(const std::string& key, const std::string& value);  // setObject:forKey:
    std::optional<std::string> get(const std::string& key) const;  // objectForKey:
    void remove(const std::string& key);                           // removeObjectForKey:
    std::map<std::string, std::string> snapshot() const;
    // Hands every value to `reader` under the lock: a look without the copy
    // a snapshot makes. `reader` must not call back into the store.
    void read(const std::function<void(const std::map<std::string, std::string>&)>& reader) const;

    // Applies the changes in order as one step: other threads see all or none
    // of them, the store is saved once, then observers hear of each change in
    // order. Removing an absent key is no change, as with remove().
    void apply(const std::vector<Change>& changes);

    // Makes the last save survive a power loss; saves themselves are atomic
    // but left to the kernel to write out. Nothing to do in memory.
    virtual void synchronize() {}

    int addObserver(Observer observer);
    void removeObserver(int token);

protected:
    UserDefaults() = default;
    // Called with the lock held, once per set, remove or apply that changed
    // something; the file store saves here.
    virtual void persist(const std::map<std::string, std::string>& /*values*/) {}
    std::map<std::string, std::string> values_;
    mutable std::mutex mutex_;

private:
    void notify(const std::vector<const Change*>& changes);
    std::mutex observerMutex_;
    std::map<int, std::shared_ptr<Observer>> observers_;
    int nextToken_ = 1;
};

// Kept in memory only: vesk-info and tests.
class MemoryUserDefaults : public UserDefaults {
public:
    MemoryUserDefaults() = default;
};

// Persisted as an XML property list, replaced atomically on every change and
// flushed to disk by synchronize() (and on destruction). A file that cannot be
// read as a dictionary is moved aside, never overwritten. A symbolic link at
// the path (managed dotfiles) stays: the file it leads to is replaced.
class FileUserDefaults : public UserDefaults {
public:
    // Says on `log` when the file at `path` could not be read and was moved aside.
    FileUserDefaults(std::string path, Log log);
    ~FileUserDefaults() override;
    FileUserDefaults(const FileUserDefaults&) = delete;
    FileUserDefaults& operator=(const FileUserDefaults&) = delete;

    const std::string& path() const { return path_; }
    void synchronize() override;

protected:
    void persist(const std::map<std::string, std::string>& values) override;

private:
    void load();
    std::string path_;
    Log log_;
    bool unsynced_ = false;  // guarded by mutex_
    std::string savedPath_;  // guarded by mutex_: the file the last save replaced
    // Guarded by mutex_: the values other than text the file held (another
    // program's, an older version's, a person's edit). The text API does not
    // see them, and every save writes them back, so that none is lost; a
    // text set under the same key replaces one.
    Dictionary kept_;
};

// $VESK_DEFAULTS_FILE when set, else $XDG_CONFIG_HOME/vesk/defaults.plist,
// else ~/.config/vesk/defaults.plist.
std::string defaultsFilePath();

}  // namespace vesk::platform
