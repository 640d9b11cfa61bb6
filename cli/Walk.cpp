#include "cli/Walk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "cli/Common.h"
#include "platform/FileSystem.h"

namespace vesk::cli {

namespace {

namespace pf = vesk::platform;

// Yields the paths to inspect in order. Without -r, the arguments as given;
// with -r, a folder argument stands for the files Vesk reads under it,
// depth first, each folder's names sorted bytewise. Only the names of the
// folders on the way down are held, never the whole tree.
class Walker {
public:
    using Emit = std::function<bool(Item)>;  // false: stop, nobody reads on
    Walker(const pf::TypeService& types, bool recursive, bool hidden, Emit emit)
        : types_(types), recursive_(recursive), hidden_(hidden), emit_(std::move(emit)) {}

    bool run(const std::vector<std::string>& args) {
        for (const auto& arg : args) {
            struct stat st{};
            if (recursive_ && ::stat(arg.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && !isBundleFolder(arg, types_)) {
                if (!walk(arg, st)) return false;
            } else if (!emit_({arg, "", false})) {
                return false;
            }
        }
        return true;
    }

private:
    struct Folder {
        std::string path;
        std::vector<std::string> names;
        std::size_t next = 0;
        dev_t dev;
        ino_t ino;
    };

    static std::string join(const std::string& folder, const std::string& name) {
        return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
    }

    bool problem(const std::string& path, const std::string& what, bool failed) {
        return emit_({"", "vesk-info: " + shown(path) + ": " + what + "\n", failed});
    }

    // The folder's names, sorted; nothing when it cannot be read.
    std::optional<std::vector<std::string>> list(const std::string& path) {
        DIR* dir = ::opendir(path.c_str());
        if (!dir) return std::nullopt;
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

    // Enters `path` unless it is one of the folders above it (a link back).
    bool enter(std::vector<Folder>& stack, const std::string& path, const struct stat& st) {
        const auto same = [&](dev_t dev, ino_t ino) { return dev == st.st_dev && ino == st.st_ino; };
        if (std::any_of(stack.begin(), stack.end(), [&](const Folder& f) { return same(f.dev, f.ino); }) ||
            std::any_of(above_.begin(), above_.end(), [&](const auto& id) { return same(id.first, id.second); }))
            return problem(path, "symbolic link back into a folder above it, not followed", false);
        auto names = list(path);
        if (!names) return problem(path, std::string(std::strerror(errno)) + " (folder not walked)", true);
        stack.push_back({path, std::move(*names), 0, st.st_dev, st.st_ino});
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

    bool walk(const std::string& root, const struct stat& rootStat) {
        findFoldersAbove(root);
        std::vector<Folder> stack;
        if (!enter(stack, root, rootStat)) return false;
        while (!stack.empty()) {
            Folder& top = stack.back();
            if (top.next == top.names.size()) {
                stack.pop_back();
                continue;
            }
            const std::string path = join(top.path, top.names[top.next++]);
            struct stat st{};
            if (::stat(path.c_str(), &st) != 0) {
                // A link that leads nowhere is no file; a link loop is said.
                if (errno == ELOOP && !problem(path, std::strerror(ELOOP), false)) return false;
                continue;
            }
            if (S_ISDIR(st.st_mode)) {
                if (isBundleFolder(path, types_)) {
                    if (!emit_({path, "", false})) return false;
                } else if (!enter(stack, path, st)) {
                    return false;
                }
            } else if (S_ISREG(st.st_mode) && wanted(path)) {
                if (!emit_({path, "", false})) return false;
            }
        }
        return true;
    }

    const pf::TypeService& types_;
    bool recursive_, hidden_;
    Emit emit_;
    std::vector<std::pair<dev_t, ino_t>> above_;
};

}  // namespace

bool walkPaths(const pf::TypeService& types, bool recursive, bool hidden, const std::vector<std::string>& args,
               Emit emit) {
    Walker walker(types, recursive, hidden, std::move(emit));
    return walker.run(args);
}

}  // namespace vesk::cli
