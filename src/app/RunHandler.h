#pragma once

#include <exception>

#include <QtGlobal>

namespace trevane {

// Calls a handler of the logic from the window's event handling. The handlers report their own
// failures to the operator; anything that still escapes must not unwind through Qt's event loop,
// so it is named on standard error and dropped.
template <typename Handler>
void RunHandler(const char* what, Handler&& handler) noexcept {
    try {
        handler();
    } catch (const std::exception& error) {
        qWarning("trevane: %s failed: %s", what, error.what());
    } catch (...) {
        qWarning("trevane: %s failed", what);
    }
}

}  // namespace trevane
