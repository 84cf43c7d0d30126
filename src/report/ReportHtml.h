#pragma once

#include <string>
#include <vector>

#include "autotest/TestRecord.h"
#include "history/Trends.h"

// The report's page: self-contained HTML (inline CSS, plots as inline SVG, no scripts, nothing
// loaded from elsewhere).
namespace trevane {

// Says how many log entries were lost when any were.
std::string RenderReportHtml(const TestRecord& record, const std::string& logPath,
                             int lostLogEntries = 0);
// With a section of the test history's making after the axes (already HTML), and the drift the
// history found, for the headline and the axes.
std::string RenderReportHtml(const TestRecord& record, const std::string& logPath,
                             int lostLogEntries, const std::string& historyHtml,
                             const std::vector<history::Drift>& drift = {});

}  // namespace trevane
