#include "support/ReadOnlyFolder.h"

#ifdef __linux__
#include <sched.h>
#include <sys/mount.h>
#endif
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>
#include <thread>

namespace trevane::testing {

namespace fs = std::filesystem;

namespace {

#ifndef _WIN32

bool CanCreateIn(const fs::path& folder) {
    const fs::path probe = folder / ".read-only-probe";
    const bool created = std::ofstream(probe).is_open();
    std::error_code ignored;
    fs::remove(probe, ignored);
    return created;
}

// False when this user writes into the folder whatever its mode says (root, or a capability).
bool RunWithoutWritePermission(const fs::path& folder, const std::function<void()>& work) {
    const fs::perms before = fs::status(folder).permissions();
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    const bool readOnly = !CanCreateIn(folder);
    if (readOnly) {
        work();
    }
    fs::permissions(folder, before);
    return readOnly;
}

#endif

#ifdef __linux__

std::string Failed(const char* step) {
    return std::string(step) + ": " + std::strerror(errno);
}

// On the calling thread only: unsharing the mount namespace gives the thread its own working
// folder too, so the rest of the process sees neither the mount nor the change of folder.
std::string RunInPrivateReadOnlyMount(const fs::path& folder, const std::function<void()>& work) {
    if (::unshare(CLONE_NEWNS) != 0) {
        return Failed("unshare");
    }
    // Shared mounts would carry the bind mount out to the rest of the machine.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return Failed("making the mounts private");
    }
    const char* path = folder.c_str();
    if (::mount(path, path, nullptr, MS_BIND, nullptr) != 0) {
        return Failed("bind mount");
    }
    if (::mount(nullptr, path, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        return Failed("read-only remount");
    }
    // The old working folder is the directory under the mount, still writable.
    if (::chdir(path) != 0) {
        return Failed("chdir");
    }
    if (CanCreateIn(folder)) {
        return "the read-only bind mount still takes new files";
    }
    work();
    return "";
}

#endif

}  // namespace

std::string RunInReadOnlyFolder(const fs::path& folder, const std::function<void()>& work) {
#ifdef _WIN32
    (void)folder;
    (void)work;
    return "on Windows: a folder's read-only attribute does not stop new files in it";
#else
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    const bool ran = RunWithoutWritePermission(folder, work);
    fs::current_path(previous);
    if (ran) {
        return "";
    }
#ifdef __linux__
    std::string failure;
    std::thread isolated([&] { failure = RunInPrivateReadOnlyMount(folder, work); });
    isolated.join();
    if (failure.empty()) {
        return "";
    }
    return "this user writes into read-only folders and cannot mount one (" + failure + ")";
#else
    return "this user writes into read-only folders, and only Linux has private mounts for one";
#endif
#endif
}

}  // namespace trevane::testing
