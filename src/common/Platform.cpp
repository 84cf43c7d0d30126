#include "common/Platform.h"

#ifdef __linux__
#include <sys/prctl.h>
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

#else

// Windows and the rest: the waits keep the platform's own timer resolution.
PreciseTimersScope::PreciseTimersScope() = default;
PreciseTimersScope::~PreciseTimersScope() = default;

#endif

}  // namespace trevane
