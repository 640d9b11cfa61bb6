// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "cli/Common.h"
#include "platform/FileDescriptor.h"
#include "platform/FileSystem.h"

namespace vesk::cli {

namespace {

namespace pf = vesk::platform;

// Yields the paths to inspect in order. Without -r, the arguments as given;
// with -r, a folder argument stands for the files Vesk reads under it,
// depth first, each folder's names sorted bytewise. The walk goes by folder
// descriptors, so no path length stops it; only the names of the folders on
// the way down are held, never the whole tree.
class Walker {
public:
    using Emit = std::function<bool(Item)>;  // false: stop, nobody reads on
    Walker(const pf::TypeService& types, bool recursive, bool hidden, Emit emit)
        : types_(types), recursive_(recursive), hidden_(hidden), emit_(std::move(emit)) {
        // The kernel's own trees hold no photos, and walking them has no end.
        struct stat root{};
        ::stat("/", &root);
        for (const char* tree : kKernelTrees) {
            struct stat st{};
            if (::stat(tree, &st) == 0 && st.st_dev != root.st_dev) kernelTrees_.push_back({tree, st.st_dev});
        }
    }

    bool run(const std::vector<std::string>& args) {
        for (const auto& arg : args) {
            struct stat st{};
            if (recursive_ && ::stat(arg.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && !isBundleFolder(arg, types_)) {
                if (!walk(arg, st)) return false;
            } else if (!emit_({arg, "", false, ""})) {
                return false;
            }
        }
        return true;
    }

    // Levels of folders below a given one that are walked; deeper ones are
    // said and left, so a tree made to be endless ends here.
    static constexpr std::size_t kMaxDepth = 256;

private:
    struct Folder {
        std::string path;
        pf::FileDescriptor fd;
        std::vector<std::string> names;
        std::size_t next = 0;
        dev_t dev;
        ino_t ino;
    };

    static std::string join(const std::string& folder, const std::string& name) {
        return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
    }

    bool problem(const std::string& path, const std::string& what, bool failed) {
        return emit_({"", "vesk-info: " + shown(path) + ": " + what + "\n", failed, ""});
    }

    // The folder's names, sorted; nothing when it cannot be read (errno says why).
    std::optional<std::vector<std::string>> list(int fd) {
        const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (own < 0) return std::nullopt;
        DIR* dir = ::fdopendir(own);
        if (!dir) {
            const int err = errno;
            ::close(own);
            errno = err;
            return std::nullopt;
        }
        std::vector<std::string> names;
        errno = 0;
        while (const dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            if (!hidden_ && name[0] == '.') continue;
            names.push_back(name);
        }
        const int err = errno;
        ::closedir(dir);
        if (err != 0) {
            errno = err;
            return std::nullopt;
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // Enters the folder `name` of `parent` (the root when there is none),
    // found by a stat as `st`, once in the whole run.
    bool enter(std::vector<Folder>& stack, const Folder* parent, const std::string& name, const std::string& path,
               const struct stat& st) {
        const auto same = [&](dev_t dev, ino_t ino) { return dev == st.st_dev && ino == st.st_ino; };
        if (std::any_of(stack.begin(), stack.end(), [&](const Folder& f) { return same(f.dev, f.ino); }) ||
            std::any_of(above_.begin(), above_.end(), [&](const auto& id) { return same(id.first, id.second); }))
            return problem(path, "symbolic link back into a folder above it, not followed", false);
        if (!entered_.insert({st.st_dev, st.st_ino}).second)
            return problem(path, "a folder already walked by another way, not walked again", false);
        if (stack.size() > kMaxDepth)
            return problem(path, "more than " + std::to_string(kMaxDepth) + " folders deep (folder not walked)", true);
        pf::FileDescriptor fd(parent ? ::openat(parent->fd.get(), name.c_str(), kFolderOpen)
                                     : ::open(path.c_str(), kFolderOpen));
        struct stat opened{};
        if (!fd || ::fstat(fd.get(), &opened) != 0)
            return problem(path, std::string(std::strerror(errno)) + " (folder not walked)", true);
        // Swapped between the look and the open: the next look decides.
        if (!same(opened.st_dev, opened.st_ino))
            return problem(path, "changed while it was walked (folder not walked)", true);
        auto names = list(fd.get());
        if (!names) return problem(path, std::string(std::strerror(errno)) + " (folder not walked)", true);
        stack.push_back({path, std::move(fd), std::move(*names), 0, st.st_dev, st.st_ino});
        return true;
    }

    // Images of every kind the type service knows and Mach-O libraries, by
    // name or by first bytes; bundle folders as themselves. A file the type
    // service cannot open is still handed on, so its report says why.
    bool wanted(const std::string& path) {
        const auto type = types_.typeOfFile(path);
        if (!type) return true;
        return types_.conformsTo(*type, "public.image") || types_.conformsTo(*type, "com.apple.mach-o-dylib");
    }

    // The folders above the root: a link to one of them would lead back
    // into the root, and walk files never asked for on the way.
    void findFoldersAbove(const std::string& root) {
        above_.clear();
        char* real = ::realpath(root.c_str(), nullptr);
        if (!real) return;
        std::string path = real;
        std::free(real);
        while (path.size() > 1) {
            path = pf::deletingLastPathComponent(path);
            struct stat st{};
            if (path.empty() || ::stat(path.c_str(), &st) != 0) break;
            above_.emplace_back(st.st_dev, st.st_ino);
        }
    }

    // The kernel tree the link `name` in `folder` leads into, or nothing: by
    // the device it leads to, or, for the file systems mounted inside those
    // trees, by the path the kernel gives the target.
    const char* kernelTree(int folder, const std::string& name, const struct stat& st) const {
        for (const auto& [tree, dev] : kernelTrees_)
            if (st.st_dev == dev) return tree;
        const pf::FileDescriptor target(::openat(folder, name.c_str(), O_PATH | O_CLOEXEC));
        if (!target) return nullptr;
        char real[PATH_MAX];
        const std::string self = "/proc/self/fd/" + std::to_string(target.get());
        const ssize_t n = ::readlink(self.c_str(), real, sizeof real);
        if (n <= 0 || static_cast<std::size_t>(n) >= sizeof real) return nullptr;
        const std::string_view path(real, static_cast<std::size_t>(n));
        for (const char* tree : kKernelTrees) {
            const std::string_view t(tree);
            if (path.starts_with(t) && (path.size() == t.size() || path[t.size()] == '/')) return tree;
        }
        return nullptr;
    }

    bool walk(const std::string& root, const struct stat& rootStat) {
        findFoldersAbove(root);
        std::vector<Folder> stack;
        if (!enter(stack, nullptr, root, root, rootStat)) return false;
        while (!stack.empty()) {
            Folder& top = stack.back();
            if (top.next == top.names.size()) {
                stack.pop_back();
                continue;
            }
            const std::string name = top.names[top.next++];
            const std::string path = join(top.path, name);
            struct stat st{}, entry{};
            if (::fstatat(top.fd.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
                const int err = errno;
                // Gone since the listing: no file.
                if (err == ENOENT) continue;
                if (err == EACCES) {
                    // A folder that can be listed but not entered: said once
                    // for all its names, none of which can be looked at.
                    top.next = top.names.size();
                    if (!problem(top.path, std::string(std::strerror(err)) + " (folder listed, its files not reached)",
                                 true))
                        return false;
                } else if (!problem(path, std::strerror(err), true)) {
                    return false;
                }
                continue;
            }
            if (::fstatat(top.fd.get(), name.c_str(), &st, 0) != 0) {
                const int err = errno;
                // A link that leads nowhere is no file; a link loop is said,
                // it hides no file; anything else hides one.
                if (err == ENOENT) continue;
                if (!problem(path, std::strerror(err), err != ELOOP)) return false;
                continue;
            }
            if (S_ISLNK(entry.st_mode))
                if (const char* tree = kernelTree(top.fd.get(), name, st)) {
                    if (!problem(path, std::string("symbolic link into ") + tree + ", not followed", false)) return false;
                    continue;
                }
            if (S_ISDIR(st.st_mode)) {
                if (isBundleFolder(path, types_)) {
                    if (!emit_({path, "", false, root})) return false;
                } else if (!enter(stack, &stack.back(), name, path, st)) {
                    return false;
                }
            } else if (S_ISREG(st.st_mode) && wanted(path)) {
                if (!emit_({path, "", false, root})) return false;
            }
        }
        return true;
    }

    static constexpr int kFolderOpen = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK;
    static constexpr const char* kKernelTrees[] = {"/proc", "/sys", "/dev"};

    const pf::TypeService& types_;
    bool recursive_, hidden_;
    Emit emit_;
    std::vector<std::pair<dev_t, ino_t>> above_;
    // Every folder entered in this run, so a web of links walks each once.
    std::set<std::pair<dev_t, ino_t>> entered_;
    std::vector<std::pair<const char*, dev_t>> kernelTrees_;
};

}  // namespace

bool walkPaths(const pf::TypeService& types, bool recursive, bool hidden, const std::vector<std::string>& args,
               Emit emit) {
    Walker walker(types, recursive, hidden, std::move(emit));
    return walker.run(args);
}

}  // namespace vesk::cli
