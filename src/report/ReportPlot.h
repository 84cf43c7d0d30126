#pragma once

#include <string>

#include "autotest/TestRecord.h"
#include "finder/Findings.h"

namespace trevane {

// Appends an inline SVG of one move: torque and position error of every cycle against the time
// since the watch began, each in its own panel with its limits drawn as dashed lines and the
// first abort marked. Readings that are not finite leave a gap in their line.
// The stretches of findings that fall in this move are shaded and named in the torque panel.
void AppendTracePlot(std::string& out, const MoveTrace& move,
                     const std::vector<finder::Finding>& findings = {});

}  // namespace trevane
