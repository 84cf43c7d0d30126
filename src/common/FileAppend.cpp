#include "common/FileAppend.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

// The platform calls for appending: one write per append, so a reader or a second writer never
// sees half of one, and a short write is taken back.
#include "common/PathText.h"

namespace trevane {
namespace {

std::string ErrnoText(int error) {
    return std::generic_category().message(error);
}

#ifdef _WIN32

using Offset = long long;

int OpenForAppend(const std::string& path) {
    int fd = -1;
    _wsopen_s(&fd, PathFromText(path).c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY,
              _SH_DENYNO, _S_IREAD | _S_IWRITE);
    return fd;
}
Offset EndOf(int fd) {
    return _lseeki64(fd, 0, SEEK_END);
}
long WriteOnce(int fd, const char* data, std::size_t size) {
    const unsigned chunk = size > 0x40000000U ? 0x40000000U : static_cast<unsigned>(size);
    return _write(fd, data, chunk);
}
int TruncateTo(int fd, Offset size) {
    return _chsize_s(fd, size) == 0 ? 0 : -1;
}
int CloseFile(int fd) {
    return _close(fd);
}
int CreateExclusive(const std::string& path) {
    int fd = -1;
    _wsopen_s(&fd, PathFromText(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
              _SH_DENYNO, _S_IREAD | _S_IWRITE);
    return fd;
}
int OpenExistingForAppend(const std::string& path) {
    int fd = -1;
    _wsopen_s(&fd, PathFromText(path).c_str(), _O_WRONLY | _O_APPEND | _O_BINARY, _SH_DENYNO, 0);
    return fd;
}
// The C library has no file numbers here; a link needs rights an operator seldom has.
FileIdentity IdentityOf(int) {
    return {};
}
bool IsRegular(int fd) {
    struct _stat64 status {};
    return _fstat64(fd, &status) == 0 && (status.st_mode & _S_IFREG) != 0;
}

#else

using Offset = off_t;

int OpenForAppend(const std::string& path) {
    // 0666 so the umask decides the permissions, as for any file the program creates. A FIFO
    // that nobody reads fails the open instead of holding it; the write itself blocks as usual.
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
    if (fd >= 0) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0) {
            ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        }
    }
    return fd;
}
Offset EndOf(int fd) {
    return ::lseek(fd, 0, SEEK_END);
}
long WriteOnce(int fd, const char* data, std::size_t size) {
    long written = 0;
    do {
        written = ::write(fd, data, size);
    } while (written < 0 && errno == EINTR);
    return written;
}
int TruncateTo(int fd, Offset size) {
    return ::ftruncate(fd, size);
}
int CloseFile(int fd) {
    return ::close(fd);
}
int CreateExclusive(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
}
// Without O_CREAT and without following a link; a FIFO without a reader fails as above.
int OpenExistingForAppend(const std::string& path) {
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd >= 0) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0) {
            ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        }
    }
    return fd;
}
FileIdentity IdentityOf(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return {};
    }
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}
bool IsRegular(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

#endif

std::optional<std::string> WriteWhole(int fd, std::string_view bytes) {
    const Offset before = EndOf(fd);
    const long written = WriteOnce(fd, bytes.data(), bytes.size());
    if (written >= 0 && static_cast<std::size_t>(written) == bytes.size()) {
        return std::nullopt;
    }
    if (written < 0) {
        return "writing it failed: " + ErrnoText(errno);
    }
    // A short write says no why; a second write of the rest does (a full disk, a size limit).
    const long rest = WriteOnce(fd, bytes.data() + written, bytes.size() - written);
    std::string reason = rest < 0 ? "writing it failed: " + ErrnoText(errno)
                                  : "only " + std::to_string(written) + " of " +
                                        std::to_string(bytes.size()) + " bytes were written";
    if (before < 0 || TruncateTo(fd, before) != 0) {
        reason += "; the part written could not be removed: " + ErrnoText(errno);
    }
    return reason;
}

std::optional<std::string> WriteAndClose(int fd, std::string_view bytes) {
    std::optional<std::string> failure = WriteWhole(fd, bytes);
    if (CloseFile(fd) != 0 && !failure) {
        failure = "closing it failed: " + ErrnoText(errno);
    }
    return failure;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    const bool known = a.device != 0 || a.inode != 0;
    return !known || (a.device == b.device && a.inode == b.inode);
}

}  // namespace

NewFile CreateNewFile(const std::string& path, std::string& failure, FileIdentity* identity) {
    const int fd = CreateExclusive(path);
    if (fd >= 0) {
        if (identity != nullptr) {
            *identity = IdentityOf(fd);
        }
        CloseFile(fd);
        return NewFile::Created;
    }
    const int error = errno;
    // Whatever is there, and whatever the error says about it (Windows says EACCES for a
    // folder), the name belongs to someone else.
    std::error_code unknown;
    const auto status = std::filesystem::symlink_status(PathFromText(path), unknown);
    if (!unknown && std::filesystem::exists(status)) {
        return NewFile::Taken;
    }
    failure = "creating it failed: " + ErrnoText(error);
    return NewFile::Failed;
}

std::optional<std::string> AppendWhole(const std::string& path, std::string_view bytes) {
    const int fd = OpenForAppend(path);
    if (fd < 0) {
        return "opening it failed: " + ErrnoText(errno);
    }
    return WriteAndClose(fd, bytes);
}

std::optional<std::string> AppendWholeToOwnFile(const std::string& path, FileIdentity& identity,
                                                std::string_view bytes) {
    int fd = OpenExistingForAppend(path);
    if (fd < 0 && errno == ENOENT) {
        // Removed meanwhile: made again, as an append would, but only as a new file.
        std::string failure;
        FileIdentity made;
        switch (CreateNewFile(path, failure, &made)) {
            case NewFile::Created:
                identity = made;
                fd = OpenExistingForAppend(path);
                break;
            case NewFile::Taken:
                return std::string("it was removed and something else has taken its name");
            case NewFile::Failed:
                return failure;
        }
    }
    if (fd < 0) {
        return errno == ELOOP ? std::string("a symbolic link has taken its name")
                              : "opening it failed: " + ErrnoText(errno);
    }
    if (!IsRegular(fd) || !SameFile(identity, IdentityOf(fd))) {
        CloseFile(fd);
        return std::string("another file has taken its name");
    }
    return WriteAndClose(fd, bytes);
}

}  // namespace trevane
