#include "cli/FleetFiles.h"

#include <cstring>
#include <stdexcept>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace trevane::cli {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void Refuse(const fs::path& file, const std::string& why) {
    throw std::runtime_error("'" + file.string() + "' " + why);
}

// "trace.txt.0123abcd.tmp": the temporary name of a file being replaced.
bool IsTemporaryName(const std::string& name) {
    constexpr std::size_t kSuffix = std::char_traits<char>::length(".01234567.tmp");
    if (name.size() <= kSuffix || !name.ends_with(".tmp") || name[name.size() - kSuffix] != '.') {
        return false;
    }
    for (std::size_t i = name.size() - kSuffix + 1; i < name.size() - 4; ++i) {
        if (std::strchr("0123456789abcdef", name[i]) == nullptr) {
            return false;
        }
    }
    return true;
}

}  // namespace

#ifdef _WIN32

MemberFiles::MemberFiles(const fs::path& folder, const std::string&, const std::string&,
                         const std::vector<std::string>&)
    : folder_(folder) {
    Refuse(folder, "cannot hold a fleet's files: not available on Windows");
}
MemberFiles::~MemberFiles() = default;
void MemberFiles::CloseChildEnds() {}
std::string MemberFiles::NewOutput() {
    return {};
}
std::string MemberFiles::Errors() const {
    return {};
}

#else

namespace {

std::string ErrnoText(int error) {
    return std::generic_category().message(error);
}

// Nothing, or a regular file: what any other kind is must not be touched.
void RequirePlainOrMissing(const fs::path& file) {
    struct stat status {};
    if (::lstat(file.c_str(), &status) != 0) {
        if (errno != ENOENT) {
            Refuse(file, "cannot be looked at: " + ErrnoText(errno));
        }
        return;
    }
    if (S_ISLNK(status.st_mode)) {
        Refuse(file, "is a symbolic link: a fleet writes its files through none");
    }
    if (S_ISDIR(status.st_mode)) {
        Refuse(file, "is a folder");
    }
    if (!S_ISREG(status.st_mode)) {
        Refuse(file, "is not a regular file");
    }
}

// A new file in place of the regular one: created exclusively, so a link planted after the old
// one went fails the creation rather than being followed.
int MakeNewFile(const fs::path& file) {
    RequirePlainOrMissing(file);
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
        Refuse(file, "cannot be replaced: " + ErrnoText(errno));
    }
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        Refuse(file, "cannot be created: " + ErrnoText(errno));
    }
    return fd;
}

// A reading end of the file just made, checked to be that very file.
int OpenToRead(const fs::path& file, int written) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        Refuse(file, "cannot be read: " + ErrnoText(errno));
    }
    struct stat made {};
    struct stat read {};
    if (::fstat(written, &made) != 0 || ::fstat(fd, &read) != 0 || made.st_dev != read.st_dev ||
        made.st_ino != read.st_ino) {
        ::close(fd);
        Refuse(file, "was replaced by something else while it was being made");
    }
    return fd;
}

void CloseIfOpen(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Appends what `fd` holds from its offset on.
void ReadRest(int fd, std::string& text) {
    char buffer[16 * 1024];
    while (true) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0) {
            text.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            return;
        }
    }
}

}  // namespace

MemberFiles::MemberFiles(const fs::path& folder, const std::string& output,
                         const std::string& error, const std::vector<std::string>& names)
    : folder_(folder) {
    std::error_code failed;
    fs::create_directories(folder, failed);
    if (failed) {
        Refuse(folder, "cannot be made: " + failed.message());
    }
    for (const std::string& name : names) {
        RequirePlainOrMissing(folder / name);
    }
    made_ = fs::file_time_type::clock::now();
    try {
        outputWrite_ = MakeNewFile(folder / output);
        outputRead_ = OpenToRead(folder / output, outputWrite_);
        errorWrite_ = MakeNewFile(folder / error);
        errorRead_ = OpenToRead(folder / error, errorWrite_);
    } catch (...) {
        CloseChildEnds();
        CloseIfOpen(outputRead_);
        CloseIfOpen(errorRead_);
        throw;
    }
}

MemberFiles::~MemberFiles() {
    CloseChildEnds();
    CloseIfOpen(outputRead_);
    CloseIfOpen(errorRead_);
}

void MemberFiles::CloseChildEnds() {
    CloseIfOpen(outputWrite_);
    CloseIfOpen(errorWrite_);
}

std::string MemberFiles::NewOutput() {
    std::string text;
    ReadRest(outputRead_, text);
    return text;
}

std::string MemberFiles::Errors() const {
    std::string text;
    if (::lseek(errorRead_, 0, SEEK_SET) == 0) {
        ReadRest(errorRead_, text);
    }
    return text;
}

#endif

void MemberFiles::RemoveLeftovers() const {
    std::error_code failed;
    for (const auto& entry : fs::directory_iterator(folder_, failed)) {
        std::error_code unknown;
        if (IsTemporaryName(entry.path().filename().string()) &&
            entry.symlink_status(unknown).type() == fs::file_type::regular &&
            fs::last_write_time(entry.path(), unknown) >= made_ - std::chrono::seconds(2)) {
            fs::remove(entry.path(), unknown);
        }
    }
}

}  // namespace trevane::cli
