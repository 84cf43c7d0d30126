#pragma once

#include <string>

#include "history/Trends.h"

namespace trevane::history {

// The report's "Compared with earlier tests" section.
std::string RenderComparisonHtml(const Comparison& comparison);

}  // namespace trevane::history
