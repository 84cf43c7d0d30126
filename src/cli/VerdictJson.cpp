#include "cli/VerdictJson.h"

#include <cmath>

#include "autotest/Outcomes.h"
#include "autotest/TestRecord.h"
#include "cli/Json.h"

namespace trevane::cli::json {
namespace {

// A share to one decimal: 96.9, not 96.93548387096774.
double Percent(double share) {
    return std::round(share * 10.0) / 10.0;
}

const char* AxisOutcome(AxisVerdict::Kind kind) {
    switch (kind) {
        case AxisVerdict::Kind::Passed:
            return outcome::kPassed;
        case AxisVerdict::Kind::Aborted:
            return outcome::kAborted;
        case AxisVerdict::Kind::Unverified:
            return outcome::kUnverified;
        case AxisVerdict::Kind::Unfinished:
        case AxisVerdict::Kind::NotTested:
            break;
    }
    return outcome::kUnfinished;
}

// "value_v" for torque, "value_counts" for error.
std::string Named(const char* name, const std::string& quantity) {
    return std::string(name) + (quantity == "torque" ? "_v" : "_counts");
}

}  // namespace

std::string AxisJson(char axis, const char* outcome, double maxTorque, double maxError) {
    Object object;
    object.Text("axis", std::string(1, axis));
    if (outcome != nullptr) {
        object.Text("outcome", outcome);
    }
    object.Number("max_torque_v", maxTorque)
        .Number("torque_share_percent", Percent(maxTorque / kTorqueLimit * 100.0))
        .Number("max_error_counts", maxError)
        .Number("error_share_percent", Percent(maxError / kErrorLimit * 100.0));
    return object.Str();
}

std::string AxesJson(const std::vector<AxisVerdict>& axes) {
    std::vector<std::string> items;
    for (const AxisVerdict& axis : axes) {
        if (axis.kind != AxisVerdict::Kind::NotTested) {
            items.push_back(
                AxisJson(axis.axis, AxisOutcome(axis.kind), axis.maxTorque, axis.maxError));
        }
    }
    return Array(items);
}

std::string WarningsJson(const std::vector<TestWarning>& warnings) {
    std::vector<std::string> items;
    for (const TestWarning& warning : warnings) {
        Object object;
        object.Text("axis", std::string(1, warning.axis)).Text("kind", warning.KindText());
        if (warning.kind == TestWarning::Kind::NearLimit) {
            object.Number(Named("value", warning.quantity), warning.value)
                .Number(Named("limit", warning.quantity), warning.limit)
                .Number("share_percent", Percent(warning.sharePercent));
        } else {
            object.Text("switch", warning.forwardSwitch ? "forward" : "reverse");
            if (warning.kind == TestWarning::Kind::LimitSwitchActive) {
                object.Text("reading", OneLine(warning.reading));
            }
            if (warning.cnSet) {
                object.Number("cn_set", static_cast<long long>(*warning.cnSet));
            } else {
                object.Null("cn_set");
            }
        }
        object.Text("text", OneLine(warning.Text()));
        items.push_back(object.Str());
    }
    return Array(items);
}

std::string DriftJson(const std::vector<history::Drift>& drift) {
    std::vector<std::string> items;
    for (const history::Drift& found : drift) {
        items.push_back(Object()
                            .Text("axis", std::string(1, found.axis))
                            .Number("target", static_cast<long long>(found.target))
                            .Text("kind", found.quantity)
                            .Number(Named("value", found.quantity), found.value)
                            .Number(Named("baseline", found.quantity), found.baseline)
                            .Number("change_percent", Percent(found.change))
                            .Str());
    }
    return Array(items);
}

std::string FindingsJson(const std::vector<finder::Finding>& findings) {
    std::vector<std::string> items;
    for (const finder::Finding& finding : findings) {
        Object object;
        object.Text("axis", std::string(1, finding.axis))
            .Text("cause", finder::CauseWord(finding.cause))
            .Text("text", OneLine(finding.Headline()))
            .Text("evidence", OneLine(finding.evidence));
        if (finding.where) {
            object.Number("from_counts", std::round(finding.where->from))
                .Number("to_counts", std::round(finding.where->to));
        } else {
            object.Null("from_counts").Null("to_counts");
        }
        object.Text("check", OneLine(finding.check));
        items.push_back(object.Str());
    }
    return Array(items);
}

}  // namespace trevane::cli::json
