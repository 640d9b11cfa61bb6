// SPDX-License-Identifier: GPL-3.0-or-later
// The bundle services the inspector relies on (bundleWithPath: and
// executableArchitectures): find a bundle's executable and read the CPU type
// of each of its slices from the headers alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "platform/Result.h"

namespace vesk::platform {

// Why a folder gives no architectures, told once by the reader so that no
// caller has to look at the file system again to say why.
struct BundleError {
    enum class Kind {
        NotAFolder,    // no folder (or link to one) at the path
        Unreadable,    // a folder that cannot be opened; `reason` is the system's
        NoExecutable,  // none found where the executable is looked for
        NotMachO,      // an executable that is no Mach-O or universal file
        Malformed,     // a Mach-O file the reader refused; `reason` names field, value and offset
    } kind;
    std::string reason;
};

class Bundle {
public:
    // bundleWithPath: a folder (or a link to one) gives a bundle; anything
    // else gives nothing.
    static std::optional<Bundle> bundleWithPath(const std::string& path);

    const std::string& bundlePath() const { return path_; }

    // Where the executable lives, links resolved. Looked for as
    //   Contents/MacOS/<CFBundleExecutable of Contents/Info.plist>,
    //   <CFBundleExecutable of Info.plist> at the root of a flat bundle
    //   (one without Contents/), and, when no Info.plist names it,
    //   the bundle's own name without extension in the same folder;
    //   a flat bundle's Info.plist may also be Resources/Info.plist, and
    //   both may lie in Versions/Current or Versions/A (a framework).
    // Nothing when the name is unsafe (a '/', "..", "."), when the file or a
    // link on the way leads out of the bundle, or when it is not a regular file.
    // An Info.plist over a property-list budget is read as none; `log` gets
    // one line saying so.
    std::optional<std::string> executablePath(const Log& log) const;
    // The same, the budget line dropped.
    std::optional<std::string> executablePath() const;

    // executableArchitectures: the CPU type of every slice of the executable in
    // file order, or nothing when there is no executable or it is malformed
    // (then the reader's reason is written to `log`).
    std::optional<std::vector<std::int32_t>> executableArchitectures(const Log& log) const;

    // The CPU type of every slice of the executable of the bundle at `path`,
    // or why there are none; a damaged executable's reason is also logged.
    static Result<std::vector<std::int32_t>, BundleError> architecturesAt(const std::string& path, const Log& log);

private:
    // The executable in `folder`, named by `infoPlist` or the bundle's own name.
    std::optional<std::string> executableIn(const std::string& folder, const std::string& infoPlist,
                                            const Log& log) const;
    Bundle(std::string path, std::string root) : path_(std::move(path)), root_(std::move(root)) {}
    std::string path_;
    std::string root_;  // the bundle folder, links resolved
};

}  // namespace vesk::platform
