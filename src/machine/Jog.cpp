#include "machine/Jog.h"

#include <algorithm>
#include <climits>
#include <string>

#include "common/CLocale.h"
#include "link/ControllerLink.h"

namespace trevane {
namespace {

AxisSelection ReadAxisSelection(Operator& panel) {
    AxisSelection axes{};
    for (int axis = 0; axis < 4; ++axis) {
        axes[axis] = panel.AxisChosen(axis) ? 1 : 0;
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

void Jog(ControllerLink& link, const AxisSelection& axes, int speed) {
    if (!link.Connected()) {
        return;
    }
    if (speed == 0) {
        link.SendCommand("AB1");
        link.SendCommand("PT1,1,1,1");
        link.SendCommand("SP*=10000");
        return;
    }
    // A jog needs position tracking off; the stop sequence turns it back on.
    link.SendCommand("PT0,0,0,0");
    link.SendCommand(JogCommand(axes, speed));
    link.SendCommand("BG");
}

void OnJogButtonDown(ControllerLink& link, int direction) {
    if (link.Test().running) {
        return;
    }
    auto panel = link.TheOperator();
    const AxisSelection axes = ReadAxisSelection(*panel);
    const long long position = panel->JogSpeed();
    Jog(link, axes, ClampToInt(direction < 0 ? -position : position));
    // A ticked W box otherwise looks like a jog of W that silently did nothing.
    if (link.Connected()) {
        panel->JogRefused(axes[3] != 0 ? kWCannotBeJoggedText : "");
    }
}

void OnJogButtonUp(ControllerLink& link) {
    if (link.Test().running) {
        return;
    }
    Jog(link, ReadAxisSelection(*link.TheOperator()), 0);
}

}  // namespace trevane
