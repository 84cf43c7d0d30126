#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The files a fleet keeps in a member's folder for its child. A reused folder may hold anything
// under those names; none of them is ever written through a link or in place of what it is.
namespace trevane::cli {

class MemberFiles {
  public:
    // Makes `folder` when it is missing, then in it a new, empty `output` and `error` for the
    // child's standard output and error, each in place of the regular file of that name (an old
    // one is unlinked, never emptied, so a hard link elsewhere keeps its bytes). Every name of
    // `names` must be a regular file or nothing: throws std::runtime_error naming the file
    // otherwise (a symbolic link, a folder, a FIFO) or when it cannot be made, and nothing of a
    // name that is not a regular file has been touched.
    MemberFiles(const std::filesystem::path& folder, const std::string& output,
                const std::string& error, const std::vector<std::string>& names);
    ~MemberFiles();
    MemberFiles(const MemberFiles&) = delete;
    MemberFiles& operator=(const MemberFiles&) = delete;

    // The ends the child writes, until CloseChildEnds once it has its own copies.
    int OutputForChild() const { return outputWrite_; }
    int ErrorForChild() const { return errorWrite_; }
    void CloseChildEnds();

    // What the child has added to its standard output since the last call.
    std::string NewOutput();
    // Everything on its standard error.
    std::string Errors() const;

    // Removes the temporary files ("NAME.XXXXXXXX.tmp") written in the folder since these files
    // were made: what a child that was killed in the middle of a replacement left behind.
    void RemoveLeftovers() const;

  private:
    std::filesystem::path folder_;
    std::filesystem::file_time_type made_;
    int outputWrite_ = -1;
    int errorWrite_ = -1;
    int outputRead_ = -1;
    int errorRead_ = -1;
};

}  // namespace trevane::cli
