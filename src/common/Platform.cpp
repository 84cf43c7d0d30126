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
#include <unistd.h>
#endif

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

}  // namespace trevane
