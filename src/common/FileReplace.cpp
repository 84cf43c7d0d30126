#include "common/FileReplace.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "common/PathText.h"

// The one place with platform calls for files: exclusive creation, flushing to the disk and the
// rename that replaces an existing file.
namespace trevane {
namespace {

namespace fs = std::filesystem;

std::string ErrnoText(int error) {
    return std::generic_category().message(error);
}

// A name nobody else uses, so two dumps (or two programs) never write the same temporary file.
fs::path TemporaryPathFor(const fs::path& target) {
    static const unsigned seed = std::random_device{}();
    static std::atomic<unsigned> counter{0};
    const unsigned value = seed ^ (counter.fetch_add(1) * 2654435761U);
    static const char* const digits = "0123456789abcdef";
    std::string suffix = ".";
    for (int shift = 28; shift >= 0; shift -= 4) {
        suffix += digits[(value >> shift) & 0xFU];
    }
    suffix += ".tmp";
    fs::path temporary = target;
    temporary += suffix;
    return temporary;
}

#ifdef _WIN32

int OpenExclusive(const fs::path& path) {
    int fd = -1;
    _wsopen_s(&fd, path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _SH_DENYRW,
              _S_IREAD | _S_IWRITE);
    return fd;
}
long WriteSome(int fd, const char* data, std::size_t size) {
    const unsigned chunk = size > 0x40000000U ? 0x40000000U : static_cast<unsigned>(size);
    return _write(fd, data, chunk);
}
int FlushToDisk(int fd) {
    return _commit(fd);
}
// A device such as NUL or CON: written as it is, never replaced.
int OpenInPlace(const fs::path& path) {
    int fd = -1;
    _wsopen_s(&fd, path.c_str(), _O_WRONLY | _O_BINARY, _SH_DENYNO, _S_IREAD | _S_IWRITE);
    return fd;
}
int CloseFile(int fd) {
    return _close(fd);
}
void RemoveFile(const fs::path& path) {
    _wunlink(path.c_str());
}
// Permissions and owners of the replaced file are not carried over here.
std::optional<std::string> KeepModeAndOwner(int, const fs::path&) {
    return std::nullopt;
}
std::optional<std::string> RenameOver(const fs::path& from, const fs::path& to) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return std::nullopt;
    }
    return std::system_category().message(static_cast<int>(GetLastError()));
}

#else

int OpenExclusive(const fs::path& path) {
    // 0666 so the umask decides the permissions, as for any file the program creates.
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}
long WriteSome(int fd, const char* data, std::size_t size) {
    return ::write(fd, data, size);
}
int FlushToDisk(int fd) {
    return ::fsync(fd);
}
// Without O_NONBLOCK a FIFO nobody reads would hold the open forever; the writes then block as
// usual, so no byte is lost to a full pipe.
int OpenInPlace(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0) {
            ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        }
    } else if (errno == ENXIO) {
        errno = EPIPE;  // a FIFO without a reader, or a socket
    }
    return fd;
}
int CloseFile(int fd) {
    return ::close(fd);
}
void RemoveFile(const fs::path& path) {
    ::unlink(path.c_str());
}
// Gives the new file the mode of the one it replaces, and as root its owner too (before the mode:
// a change of owner may clear set-id bits). Done before any byte is written, so the new file's
// content is never readable by more users than the old file's.
std::optional<std::string> KeepModeAndOwner(int fd, const fs::path& replaced) {
    struct stat old {};
    if (::stat(replaced.c_str(), &old) != 0) {
        return std::nullopt;  // nothing replaced: the umask decides
    }
    if (::geteuid() == 0 && ::fchown(fd, old.st_uid, old.st_gid) != 0) {
        return "its owner cannot be kept: " + ErrnoText(errno);
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0) {
        return "its mode cannot be kept: " + ErrnoText(errno);
    }
    return std::nullopt;
}
std::optional<std::string> RenameOver(const fs::path& from, const fs::path& to) {
    if (::rename(from.c_str(), to.c_str()) == 0) {
        return std::nullopt;
    }
    return ErrnoText(errno);
}

#endif

std::optional<std::string> WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const long written = WriteSome(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return ErrnoText(errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return std::nullopt;
}

std::optional<std::string> WriteAndClose(int fd, std::string_view bytes, bool flush = true) {
    std::optional<std::string> failure = WriteAll(fd, bytes);
    if (!failure && flush && FlushToDisk(fd) != 0) {
        failure = ErrnoText(errno);
    }
    if (CloseFile(fd) != 0 && !failure) {
        failure = ErrnoText(errno);
    }
    return failure;
}

// The file a symbolic link at `path` leads to, so the link stays and its target is replaced; a
// link to a missing file leads to the file it would create.
fs::path ThroughLinks(const fs::path& path) {
    fs::path current = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(current, error))) {
            return current;
        }
        const fs::path link = fs::read_symlink(current, error);
        if (error) {
            return current;
        }
        current = link.is_absolute() ? link : current.parent_path() / link;
    }
    return current;  // a loop: the rename reports it
}

// Device nodes and FIFOs have no content to replace, and the files under /dev and /proc (such
// as /dev/stdout) stand for something the rename would cut off.
bool WrittenInPlace(const fs::path& path, fs::file_status status) {
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        return true;
    }
    const std::string text = path.generic_string();
    return text.starts_with("/dev/") || text.starts_with("/proc/");
}

std::optional<std::string> WriteInPlace(const fs::path& path, std::string_view bytes) {
    const int fd = OpenInPlace(path);
    if (fd < 0) {
        return errno == EPIPE ? std::string("nothing is reading it") : ErrnoText(errno);
    }
    return WriteAndClose(fd, bytes, false);
}

}  // namespace

FileKind KindOf(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(PathFromText(path), error);
    if (fs::is_directory(status)) {
        return FileKind::Folder;
    }
    if (WrittenInPlace(PathFromText(path), status)) {
        return FileKind::InPlace;
    }
    return fs::exists(status) ? FileKind::Regular : FileKind::Missing;
}

std::optional<std::string> ReplaceFileAtomically(const std::string& path, std::string_view bytes) {
    const std::string failed = "cannot write '" + path + "': ";
    switch (KindOf(path)) {
        case FileKind::Folder:
            return failed + "it is a folder";
        case FileKind::InPlace:
            if (std::optional<std::string> failure = WriteInPlace(PathFromText(path), bytes)) {
                return failed + *failure;
            }
            return std::nullopt;
        default:
            break;
    }
    const fs::path target = ThroughLinks(PathFromText(path));
    constexpr int kAttempts = 16;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const fs::path temporary = TemporaryPathFor(target);
        const int fd = OpenExclusive(temporary);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return failed + "cannot create the temporary file '" + TextFromPath(temporary) +
                   "': " + ErrnoText(errno);
        }
        if (std::optional<std::string> failure = KeepModeAndOwner(fd, target)) {
            CloseFile(fd);
            RemoveFile(temporary);
            return failed + *failure;
        }
        if (std::optional<std::string> failure = WriteAndClose(fd, bytes)) {
            RemoveFile(temporary);
            return failed + "writing the temporary file '" + TextFromPath(temporary) +
                   "' failed: " + *failure;
        }
        if (std::optional<std::string> failure = RenameOver(temporary, target)) {
            RemoveFile(temporary);
            return failed + "it cannot be replaced: " + *failure;
        }
        return std::nullopt;
    }
    return failed + "no free temporary file name beside it";
}

}  // namespace trevane
