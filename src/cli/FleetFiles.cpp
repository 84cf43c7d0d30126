#include "cli/FleetFiles.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace trevane::cli {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void Refuse(const fs::path& file, const std::string& why) {
    throw std::runtime_error("'" + file.string() + "' " + why);
}

std::string ErrnoText(int error) {
    return std::generic_category().message(error);
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

// Nothing, or a regular file: what any other kind is must not be touched.
void RequirePlainOrMissing(const fs::path& file) {
    std::error_code failed;
    const fs::file_status status = fs::symlink_status(file, failed);
    if (status.type() == fs::file_type::not_found) {
        return;
    }
    if (failed) {
        Refuse(file, "cannot be looked at: " + failed.message());
    }
    if (status.type() == fs::file_type::symlink) {
        Refuse(file, "is a symbolic link: a fleet writes its files through none");
    }
    if (status.type() == fs::file_type::directory) {
        Refuse(file, "is a folder");
    }
    if (status.type() != fs::file_type::regular) {
        Refuse(file, "is not a regular file");
    }
}

#ifdef _WIN32
int OpenNew(const fs::path& file) {
    return ::_wopen(file.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                    _S_IREAD | _S_IWRITE);
}
long WriteSome(int fd, const char* bytes, std::size_t count) {
    constexpr std::size_t kMost = 1u << 30;
    return ::_write(fd, bytes, static_cast<unsigned>(count < kMost ? count : kMost));
}
void CloseFd(int fd) {
    ::_close(fd);
}
#else
int OpenNew(const fs::path& file) {
    return ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}
long WriteSome(int fd, const char* bytes, std::size_t count) {
    return static_cast<long>(::write(fd, bytes, count));
}
void CloseFd(int fd) {
    ::close(fd);
}
#endif

// A new file in place of the regular one: created exclusively, so a link planted after the old
// one went fails the creation rather than being followed.
int MakeNewFile(const fs::path& file) {
    RequirePlainOrMissing(file);
    std::error_code failed;
    fs::remove(file, failed);
    if (failed) {
        Refuse(file, "cannot be replaced: " + failed.message());
    }
    const int fd = OpenNew(file);
    if (fd < 0) {
        Refuse(file, "cannot be created: " + ErrnoText(errno));
    }
    return fd;
}

void CloseIfOpen(int& fd) {
    if (fd >= 0) {
        CloseFd(fd);
        fd = -1;
    }
}

std::optional<std::string> WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const long count = WriteSome(fd, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return count < 0 ? ErrnoText(errno) : std::string("nothing was written");
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return std::nullopt;
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
        output_ = MakeNewFile(folder / output);
        error_ = MakeNewFile(folder / error);
    } catch (...) {
        CloseIfOpen(output_);
        throw;
    }
}

MemberFiles::~MemberFiles() {
    CloseIfOpen(output_);
    CloseIfOpen(error_);
}

std::optional<std::string> MemberFiles::WriteOutput(std::string_view bytes) const {
    return WriteAll(output_, bytes);
}

std::optional<std::string> MemberFiles::WriteError(std::string_view bytes) const {
    return WriteAll(error_, bytes);
}

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
