#include "machine/Jog.h"

#include <algorithm>
#include <climits>
#include <string>

#include "common/CLocale.h"
#include "link/Link.h"
#include "link/TestState.h"
#include "link/WindowOps.h"

namespace trevane {
namespace {

AxisSelection ReadAxisSelection(WindowOps& window) {
    AxisSelection axes{};
    for (int axis = 0; axis < 4; ++axis) {
        axes[axis] = window.IsAxisChecked(axis) ? 1 : 0;
    }
    return axes;
}

// Jog takes an int; a window reporting a position at the edge of int must not overflow when
// negated or multiplied.
int ClampToInt(long long value) {
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

std::string JogCommand(const AxisSelection& axes, int speed) {
    std::string command = "JG";
    for (int axis = 0; axis < 3; ++axis) {
        command += FormatInt(ClampToInt(static_cast<long long>(speed) * axes[axis]));
        command += ',';
    }
    // The fourth axis never jogs, whatever its box says.
    command += '0';
    return command;
}

}  // namespace

void Jog(const AxisSelection& axes, int speed) {
    if (!g_connected) {
        return;
    }
    if (speed == 0) {
        SendCommand("AB1");
        SendCommand("PT1,1,1,1");
        SendCommand("SP*=10000");
        return;
    }
    // A jog needs position tracking off; the stop sequence turns it back on.
    SendCommand("PT0,0,0,0");
    SendCommand(JogCommand(axes, speed));
    SendCommand("BG");
}

void OnJogButtonDown(int direction) {
    if (g_testRunning) {
        return;
    }
    auto window = Window();
    const AxisSelection axes = ReadAxisSelection(*window);
    const long long position = window->SpeedPosition();
    Jog(axes, ClampToInt(direction < 0 ? -position : position));
}

void OnJogButtonUp() {
    if (g_testRunning) {
        return;
    }
    auto window = Window();
    Jog(ReadAxisSelection(*window), 0);
}

}  // namespace trevane
