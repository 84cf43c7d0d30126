#pragma once

#include <string>
#include <vector>

#include "finder/Findings.h"
#include "history/Trends.h"
#include "report/AxisVerdict.h"
#include "report/TestWarnings.h"

// The JSON of what a verdict holds beside its words, one shape for autotest, history and fleet.
namespace trevane::cli::json {

// {"axis": "Y", "max_torque_v": 3.005, "torque_share_percent": 96.9, ...}, "outcome" first when
// it is given.
std::string AxisJson(char axis, const char* outcome, double maxTorque, double maxError);
// The axes the test reached, with their outcome.
std::string AxesJson(const std::vector<AxisVerdict>& axes);
std::string WarningsJson(const std::vector<TestWarning>& warnings);
std::string DriftJson(const std::vector<history::Drift>& drift);
std::string FindingsJson(const std::vector<finder::Finding>& findings);

}  // namespace trevane::cli::json
