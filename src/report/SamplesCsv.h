#pragma once

#include <string>

#include "autotest/TestRecord.h"

namespace trevane {

// "move,axis,target,cycle,time_ms,torque,error", then one line per sample; lines end in CR LF
// and numbers read back exactly, in the "C" locale whatever the process locale is.
std::string RenderSamplesCsv(const TestRecord& record);

}  // namespace trevane
