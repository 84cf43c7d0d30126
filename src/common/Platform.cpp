#include "common/Platform.h"

#ifdef __linux__
#include <sys/prctl.h>
#elif defined(_WIN32)
#include <windows.h>
#endif
#ifdef _WIN32
#include <io.h>
#include <stdio.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <system_error>

namespace trevane {

#ifdef __linux__

PreciseTimersScope::PreciseTimersScope() {
    const int previous = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (previous > 0 && prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0) == 0) {
        previousSlackNs_ = previous;
    }
}

PreciseTimersScope::~PreciseTimersScope() {
    if (previousSlackNs_ > 0) {
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(previousSlackNs_), 0, 0, 0);
    }
}

#elif defined(_WIN32)

// Windows wakes sleepers on a 15.6 ms tick by default, longer than the 10 ms waits themselves.
PreciseTimersScope::PreciseTimersScope() {
    if (timeBeginPeriod(1) == TIMERR_NOERROR) {
        previousSlackNs_ = 1;
    }
}

PreciseTimersScope::~PreciseTimersScope() {
    if (previousSlackNs_ > 0) {
        timeEndPeriod(1);
    }
}

#else

// The rest: the waits keep the platform's own timer resolution.
PreciseTimersScope::PreciseTimersScope() = default;
PreciseTimersScope::~PreciseTimersScope() = default;

#endif

bool StandardOutputIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(STDOUT_FILENO) == 1;
#endif
}

bool StandardErrorIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) == 1;
#endif
}

void IgnoreBrokenPipeSignal() {
#ifndef _WIN32
    ::signal(SIGPIPE, SIG_IGN);
#endif
}

void BlockBrokenPipeSignalOnThisThread() {
#ifndef _WIN32
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
#endif
}

std::optional<std::string> WriteToStandardStream(StandardStream stream, std::string_view bytes) {
    while (!bytes.empty()) {
#ifdef _WIN32
        const int fd = _fileno(stream == StandardStream::Output ? stdout : stderr);
        const unsigned chunk = bytes.size() > 0x40000000U ? 0x40000000U
                                                          : static_cast<unsigned>(bytes.size());
        const long written = _write(fd, bytes.data(), chunk);
#else
        const int fd = stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO;
        const long written = ::write(fd, bytes.data(), bytes.size());
#endif
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
#ifndef _WIN32
            // A stream another program made non-blocking: wait for room as a blocking one would.
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd room{fd, POLLOUT, 0};
                ::poll(&room, 1, 1000);
                continue;
            }
#endif
            return std::generic_category().message(errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return std::nullopt;
}

#ifdef _WIN32

TerminationSignalPipe::TerminationSignalPipe() = default;
TerminationSignalPipe::~TerminationSignalPipe() = default;
int TerminationSignalPipe::Take() {
    return 0;
}

#else

namespace {

constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<int> g_terminationWriteEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free);
struct sigaction g_previousActions[3];

extern "C" void NoteTerminationSignal(int) {
    const int saved = errno;
    const int fd = g_terminationWriteEnd.load();
    if (fd >= 0) {
        [[maybe_unused]] const auto written = ::write(fd, "s", 1);
    }
    errno = saved;
}

}  // namespace

TerminationSignalPipe::TerminationSignalPipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    readEnd_ = ends[0];
    writeEnd_ = ends[1];
    g_terminationWriteEnd = writeEnd_;
    struct sigaction action {};
    action.sa_handler = NoteTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) {
        ::sigaction(kTerminationSignals[i], &action, &g_previousActions[i]);
    }
}

TerminationSignalPipe::~TerminationSignalPipe() {
    if (readEnd_ < 0) {
        return;
    }
    for (int i = 0; i < 3; ++i) {
        ::sigaction(kTerminationSignals[i], &g_previousActions[i], nullptr);
    }
    g_terminationWriteEnd = -1;
    ::close(readEnd_);
    ::close(writeEnd_);
}

int TerminationSignalPipe::Take() {
    int count = 0;
    char bytes[64];
    for (long got = 0; readEnd_ >= 0 && (got = ::read(readEnd_, bytes, sizeof bytes)) > 0;) {
        count += static_cast<int>(got);
    }
    return count;
}

#endif

bool StandardStreamsShareAFile() {
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0 && _isatty(_fileno(stderr)) != 0;
#else
    struct stat output {};
    struct stat error {};
    return ::fstat(STDOUT_FILENO, &output) == 0 && ::fstat(STDERR_FILENO, &error) == 0 &&
           output.st_dev == error.st_dev && output.st_ino == error.st_ino;
#endif
}

bool IsStandardOutput(const std::string& path) {
#ifdef _WIN32
    (void)path;
    return false;  // written as any other file there
#else
    struct stat named {};
    struct stat output {};
    return ::stat(path.c_str(), &named) == 0 && ::fstat(STDOUT_FILENO, &output) == 0 &&
           named.st_dev == output.st_dev && named.st_ino == output.st_ino;
#endif
}

}  // namespace trevane
