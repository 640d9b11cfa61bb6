// SPDX-License-Identifier: GPL-3.0-or-later
// `-` as a PATH: standard input kept in a private file for the reports,
// which read files by path.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vesk::cli {

// More than this is not kept: no report reads that far into a file.
inline constexpr std::uint64_t kMaxStandardInputBytes = 512ull << 20;

// A copy of standard input in the user's private temporary folder, removed
// with the object.
class StandardInputFile {
public:
    StandardInputFile() = default;
    StandardInputFile(const StandardInputFile&) = delete;
    StandardInputFile& operator=(const StandardInputFile&) = delete;
    ~StandardInputFile();

    // Copies standard input; the reason when it could not, or when it is
    // larger than kMaxStandardInputBytes.
    std::optional<std::string> copy();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace vesk::cli
