#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The files a fleet keeps in a member's folder beside the verb's own. A reused folder may hold
// anything under those names; none of them is ever written through a link or in place of what
// it is.
namespace trevane::cli {

class MemberFiles {
  public:
    // Makes `folder` when it is missing, then in it a new, empty `output` and `error` for the
    // member's standard output and error, each in place of the regular file of that name (an
    // old one is unlinked, never emptied, so a hard link elsewhere keeps its bytes). Every name
    // of `names` must be a regular file or nothing: throws std::runtime_error naming the file
    // otherwise (a symbolic link, a folder, a FIFO) or when it cannot be made, and nothing of a
    // name that is not a regular file has been touched.
    MemberFiles(const std::filesystem::path& folder, const std::string& output,
                const std::string& error, const std::vector<std::string>& names);
    ~MemberFiles();
    MemberFiles(const MemberFiles&) = delete;
    MemberFiles& operator=(const MemberFiles&) = delete;

    // Writes `bytes` whole to the output or the error file; why not when it could not.
    std::optional<std::string> WriteOutput(std::string_view bytes) const;
    std::optional<std::string> WriteError(std::string_view bytes) const;

    // Removes the temporary files ("NAME.XXXXXXXX.tmp") written in the folder since these files
    // were made: what a member that ended in the middle of a replacement left behind.
    void RemoveLeftovers() const;

  private:
    std::filesystem::path folder_;
    std::filesystem::file_time_type made_;
    int output_ = -1;
    int error_ = -1;
};

}  // namespace trevane::cli
