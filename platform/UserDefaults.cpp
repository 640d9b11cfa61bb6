// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/UserDefaults.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/FileDescriptor.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"

namespace vesk::platform {
namespace {

// The file a save of the store at `path` replaces. A symbolic link there is
// followed to its final target, so the link (a managed dotfile) keeps
// working. A dangling link: its target is written when the target's folder
// exists (the link then leads to the store); otherwise, as with a loop, the
// link itself is replaced, because the store must be saved somewhere.
std::string saveTarget(const std::string& path) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string resolved(real);
        std::free(real);
        return resolved;
    }
    if (errno != ENOENT) return path;
    // Dangling: walk the chain, as far as the kernel would, to the missing name.
    std::string at = path;
    for (int hop = 0; hop < 40; ++hop) {
        if (::lstat(at.c_str(), &st) != 0) {
            if (errno != ENOENT) return path;
            const std::string dir = deletingLastPathComponent(at);
            return isDirectory(dir.empty() ? "." : dir) ? at : path;
        }
        if (!S_ISLNK(st.st_mode)) return path;  // the chain changed under us
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(at.c_str(), link.data(), link.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) return path;
        link.resize(static_cast<std::size_t>(n));
        at = link[0] == '/' ? link : appendingPathComponent(deletingLastPathComponent(at), link);
    }
    return path;
}

}  // namespace

void UserDefaults::set(const std::string& key, const std::string& value) { apply({{key, value}}); }

std::optional<std::string> UserDefaults::get(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

void UserDefaults::remove(const std::string& key) { apply({{key, std::nullopt}}); }

void UserDefaults::apply(const std::vector<Change>& changes) {
    // The changes made, by reference: a report's texts are not copied twice.
    std::vector<const Change*> made;
    made.reserve(changes.size());
    {
        std::lock_guard lock(mutex_);
        for (const auto& change : changes) {
            if (change.value) {
                values_[change.key] = *change.value;
            } else if (values_.erase(change.key) == 0) {
                continue;
            }
            made.push_back(&change);
        }
        if (made.empty()) return;
        persist(values_);
    }
    notify(made);
}

std::map<std::string, std::string> UserDefaults::snapshot() const {
    std::lock_guard lock(mutex_);
    return values_;
}

void UserDefaults::read(const std::function<void(const std::map<std::string, std::string>&)>& reader) const {
    std::lock_guard lock(mutex_);
    reader(values_);
}

int UserDefaults::addObserver(Observer observer) {
    std::lock_guard lock(observerMutex_);
    const int token = nextToken_++;
    observers_[token] = std::make_shared<Observer>(std::move(observer));
    return token;
}

void UserDefaults::removeObserver(int token) {
    std::lock_guard lock(observerMutex_);
    observers_.erase(token);
}

void UserDefaults::notify(const std::vector<const Change*>& changes) {
    std::vector<std::shared_ptr<Observer>> targets;
    {
        std::lock_guard lock(observerMutex_);
        for (auto& [token, obs] : observers_) targets.push_back(obs);
    }
    for (const Change* change : changes)
        for (auto& obs : targets) (*obs)(change->key, change->value);
}

FileUserDefaults::FileUserDefaults(std::string path, Log log) : path_(std::move(path)), log_(log) { load(); }

FileUserDefaults::~FileUserDefaults() { synchronize(); }

void FileUserDefaults::load() {
    constexpr std::size_t kMaxStoreBytes = 64 * 1024 * 1024;
    struct stat st{};
    if (::stat(path_.c_str(), &st) != 0) return;  // no store yet: start empty
    std::optional<Value> root;
    if (auto bytes = readFileBounded(path_, kMaxStoreBytes)) root = parsePropertyList(*bytes);
    if (root && root->is<Dictionary>()) {
        for (auto& [key, value] : *root->get<Dictionary>()) {
            if (auto* text = value.get<std::string>())
                values_[key] = std::move(*text);
            else
                kept_.emplace(key, std::move(value));
        }
        return;
    }
    // Keep the unreadable file for whoever wants to look at it; start empty.
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    std::string aside = path_ + ".corrupt-" + stamp;
    for (int n = 1; fileExists(aside); ++n) aside = path_ + ".corrupt-" + stamp + "-" + std::to_string(n);
    if (std::rename(path_.c_str(), aside.c_str()) == 0)
        log_.nslog("defaults store %@ could not be read; moved aside to %@, starting empty", {path_, aside});
    else
        log_.nslog("defaults store %@ could not be read nor moved aside; starting empty and leaving it alone",
              {path_});
}

void FileUserDefaults::persist(const std::map<std::string, std::string>& values) {
    std::erase_if(kept_, [&values](const auto& entry) { return values.count(entry.first) != 0; });
    Dictionary dict = kept_;
    for (const auto& [key, value] : values) dict.emplace(key, Value(value));
    const std::string dir = deletingLastPathComponent(path_);
    if (!dir.empty() && !isDirectory(dir)) {
        // Create the parents one by one, private to the user.
        std::string partial;
        for (std::size_t i = 1; i <= dir.size(); ++i) {
            if (i == dir.size() || dir[i] == '/') {
                partial = dir.substr(0, i);
                ::mkdir(partial.c_str(), 0700);
            }
        }
    }
    // Renamed over the old file, not swapped: on ext4 that keeps the store
    // from reading empty after a power loss even before synchronize().
    const AtomicWriteOptions options{.durable = false, .swapExisting = false};
    const std::string target = saveTarget(path_);
    if (auto error = atomicWriteFile(target, toXmlPropertyList(Value(std::move(dict))), options)) {
        log_.nslog("defaults store not saved: %@", {*error});
    } else {
        unsynced_ = true;
        savedPath_ = target;
    }
}

void FileUserDefaults::synchronize() {
    std::lock_guard lock(mutex_);
    if (!unsynced_) return;
    // The file's data, then the folder entry the rename changed.
    const auto flush = [](const std::string& path, int flags) -> std::optional<std::string> {
        const FileDescriptor fd(::open(path.c_str(), flags | O_RDONLY | O_CLOEXEC));
        if (!fd || ::fsync(fd.get()) != 0) return "\"" + path + "\": " + std::strerror(errno);
        return std::nullopt;
    };
    // What the last save replaced: the link's target when the store is a link.
    std::string dir = deletingLastPathComponent(savedPath_);
    if (dir.empty()) dir.push_back('.');
    auto error = flush(savedPath_, O_NOFOLLOW);
    if (!error) error = flush(dir, O_DIRECTORY);
    if (error) {
        log_.nslog("defaults store not synchronized: %@", {*error});
        return;
    }
    unsynced_ = false;
}

std::string defaultsFilePath() {
    if (const char* p = std::getenv("VESK_DEFAULTS_FILE"); p && *p) return p;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x && x[0] == '/')
        return std::string(x) + "/vesk/defaults.plist";
    return expandTilde("~/.config/vesk/defaults.plist");
}

}  // namespace vesk::platform
