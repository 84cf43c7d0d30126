#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace trevane::testing {

// A new, empty folder of its own under the system's temporary folder, removed with all it holds
// (a part made read-only included) when the helper goes.
class ScratchFolder {
  public:
    explicit ScratchFolder(std::string_view prefix = "trevane-test");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// A scratch folder as the working directory while it lives; the previous one is put back.
class ScopedWorkingFolder : public ScratchFolder {
  public:
    explicit ScopedWorkingFolder(std::string_view prefix = "trevane-test");
    ~ScopedWorkingFolder();

  private:
    std::filesystem::path previous_;
};

// The file's bytes; "" when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

}  // namespace trevane::testing
