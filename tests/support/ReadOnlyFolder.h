#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace trevane::testing {

// Runs `work` with `folder` as its working folder while nothing can be written into it, root
// included. An ordinary user loses the folder's write permission for the while; root, whom
// permissions do not stop, runs `work` on a thread of its own in a private mount namespace where
// the folder is a read-only bind mount, which goes with the thread. Returns "" once `work` ran,
// else why the folder cannot be made read-only here (`work` did not run).
std::string RunInReadOnlyFolder(const std::filesystem::path& folder,
                                const std::function<void()>& work);

}  // namespace trevane::testing
