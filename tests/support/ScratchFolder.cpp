#include "support/ScratchFolder.h"

#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

namespace trevane::testing {

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder(std::string_view prefix) {
    std::random_device random;
    do {
        path_ = fs::temp_directory_path() / (std::string(prefix) + "-" + std::to_string(random()));
    } while (!fs::create_directory(path_));
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(path_, ignored)) {
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

ScopedWorkingFolder::ScopedWorkingFolder(std::string_view prefix)
    : ScratchFolder(prefix), previous_(fs::current_path()) {
    fs::current_path(Path());
}

ScopedWorkingFolder::~ScopedWorkingFolder() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace trevane::testing
