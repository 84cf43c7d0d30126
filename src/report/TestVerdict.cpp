#include "report/TestVerdict.h"

#include <filesystem>
#include <utility>

#include "autotest/Outcomes.h"
#include "common/CLocale.h"
#include "common/PathText.h"

namespace trevane {
namespace {

std::string AxisText(const AxisVerdict& axis) {
    std::string text(1, axis.axis);
    switch (axis.kind) {
        case AxisVerdict::Kind::Passed: {
            const std::string nearLimit = axis.NearLimitText();
            return text + " " + outcome::kPassed + (nearLimit.empty() ? "" : ", " + nearLimit);
        }
        case AxisVerdict::Kind::Unverified:
            return text + " " + outcome::kUnverified + " (" + axis.FailedReadingsText() + ")";
        case AxisVerdict::Kind::Aborted:
            return text + " aborted (" + AbortReasonText(axis.reason) + " " + axis.reading +
                   " above " + (axis.reason == AbortReason::Torque ? "3.1" : "700") + ")";
        case AxisVerdict::Kind::Unfinished:
            return text + " not finished (in the move to " + FormatInt(axis.target) + ")";
        case AxisVerdict::Kind::NotTested:
            break;
    }
    return text + " not tested";
}

// The axes whose verdict was settled before the test ended.
std::string SettledAxesText(const TestVerdict& verdict) {
    std::string text;
    for (const AxisVerdict& axis : verdict.axes) {
        if (axis.kind == AxisVerdict::Kind::Unfinished ||
            axis.kind == AxisVerdict::Kind::NotTested) {
            continue;
        }
        text += (text.empty() ? "" : ", ") + AxisText(axis);
    }
    return text;
}

std::string LinkLostText(const TestVerdict& verdict) {
    std::string text = "link lost during " + verdict.lostDuring + "; ";
    if (!verdict.stopReached) {
        return text + "the stop (AB1) could not be sent, so the machine may still be switched on "
                      "and moving: check it before you go near it.";
    }
    text += "the stop (AB1) was sent on a new session; ";
    // Said only from the motors' reading after the stop.
    if (!verdict.motorsRead) {
        return text + "whether the motors are switched on is unknown (no reading came after the "
                      "stop).";
    }
    if (verdict.motorsOn.empty()) {
        return text + "the motors read switched off.";
    }
    if (verdict.motorsOn == "XYZ") {
        return text + "the motors are still switched on.";
    }
    std::string axes;
    for (const char axis : verdict.motorsOn) {
        axes += (axes.empty() ? "" : ", ") + std::string(1, axis);
    }
    return text + "the motors of " + axes + " are still switched on.";
}

std::string AxesOfKind(const TestVerdict& verdict, AxisVerdict::Kind kind) {
    std::string text;
    for (const AxisVerdict& axis : verdict.axes) {
        if (axis.kind == kind) {
            text += (text.empty() ? "" : ", ") + AxisText(axis);
        }
    }
    return text;
}

std::string ReportText(const TestVerdict& verdict) {
    if (verdict.reportFailed) {
        return "Report: none (it could not be written)";
    }
    return "Report: " + (verdict.reportFile.empty() ? std::string("none") : verdict.reportFile);
}

}  // namespace

const char* VerdictKindText(TestVerdict::Kind kind) {
    switch (kind) {
        case TestVerdict::Kind::Passed:
            return outcome::kPassed;
        case TestVerdict::Kind::Aborted:
            return outcome::kAborted;
        case TestVerdict::Kind::Unverified:
            return outcome::kUnverified;
        case TestVerdict::Kind::LinkLost:
            return outcome::kLinkLost;
        case TestVerdict::Kind::Stopped:
            return outcome::kStopped;
        case TestVerdict::Kind::NoConnection:
            break;
    }
    return outcome::kNoConnection;
}

TestVerdict VerdictOfTest(const TestRecord& record, const std::optional<TestReportResult>& report,
                          std::vector<history::Drift> drift) {
    TestVerdict verdict;
    verdict.testNumber = record.testNumber;
    if (record.outcome == TestOutcome::NoConnection) {
        verdict.kind = TestVerdict::Kind::NoConnection;
        return verdict;
    }
    bool allPassed = true;
    bool anyAborted = false;
    bool anyUnverified = false;
    for (char axis : {'X', 'Y', 'Z'}) {
        verdict.axes.push_back(VerdictOf(record, axis));
        const AxisVerdict::Kind kind = verdict.axes.back().kind;
        allPassed = allPassed && kind == AxisVerdict::Kind::Passed;
        anyAborted = anyAborted || kind == AxisVerdict::Kind::Aborted;
        anyUnverified = anyUnverified || kind == AxisVerdict::Kind::Unverified;
    }
    verdict.warnings = WarningsOf(record, verdict.axes);
    verdict.findings = finder::FindCauses(record);
    for (const TestWarning& warning : verdict.warnings) {
        if (warning.kind != TestWarning::Kind::NearLimit) {
            verdict.findings.push_back({warning.axis, finder::Cause::LimitSwitch, warning.Text(),
                                        std::nullopt, "the switch and its wiring"});
        }
    }
    verdict.drift = std::move(drift);
    if (record.outcome == TestOutcome::LinkLost) {
        verdict.kind = TestVerdict::Kind::LinkLost;
        verdict.lostDuring = record.stage.empty() ? std::string("the test") : record.stage;
        verdict.stopReached = record.stopReached;
        verdict.motorsRead = record.motorsRead;
        verdict.motorsOn = record.motorsOn;
    } else if (record.outcome != TestOutcome::Completed) {
        verdict.kind = TestVerdict::Kind::Stopped;
        verdict.stoppedByOperator = record.outcome == TestOutcome::AbortedByUser;
    } else {
        // An aborted move outweighs an unmeasured one; an axis not watched to its end has not
        // passed either.
        if (anyAborted) {
            verdict.kind = TestVerdict::Kind::Aborted;
        } else if (anyUnverified || record.outOfStepReplies > 0) {
            verdict.kind = TestVerdict::Kind::Unverified;
        } else {
            verdict.kind = allPassed ? TestVerdict::Kind::Passed : TestVerdict::Kind::Aborted;
        }
    }
    if (record.outOfStepReplies > 0) {
        verdict.notes.push_back(FormatInt(record.outOfStepReplies) +
                                (record.outOfStepReplies == 1 ? " reply" : " replies") +
                                " of the checks came out of step and were not acted on.");
    }
    // Only this test's own report counts; an earlier one's must not be named.
    if (report && report->testNumber == record.testNumber) {
        verdict.reportFailed = report->failure.has_value();
        verdict.reportFile = TextFromPath(PathFromText(report->files.html).filename());
    }
    return verdict;
}

std::string VerdictLine(const TestVerdict& verdict) {
    std::string line = "Test result: ";
    if (verdict.kind == TestVerdict::Kind::NoConnection) {
        line += "not run, no connection.";
    } else if (verdict.kind == TestVerdict::Kind::LinkLost) {
        line += LinkLostText(verdict);
        if (const std::string settled = SettledAxesText(verdict); !settled.empty()) {
            line += " " + settled + ".";
        }
    } else {
        if (verdict.kind == TestVerdict::Kind::Stopped) {
            line += verdict.stoppedByOperator ? "stopped by the operator: "
                                              : "stopped when the program closed: ";
        }
        for (std::size_t i = 0; i < verdict.axes.size(); ++i) {
            line += (i == 0 ? "" : ", ") + AxisText(verdict.axes[i]);
        }
        line += ".";
    }
    // A margin is told with its axis above.
    for (const TestWarning& warning : verdict.warnings) {
        if (warning.kind != TestWarning::Kind::NearLimit) {
            line += " Warning: " + warning.Text() + ".";
        }
    }
    for (const finder::Finding& finding : verdict.findings) {
        if (finding.cause != finder::Cause::LimitSwitch) {
            line += " " + finding.Headline() + ".";
        }
    }
    for (const std::string& flag : history::DriftFlagTexts(verdict.drift)) {
        line += " " + flag + ".";
    }
    for (const std::string& note : verdict.notes) {
        line += " " + note;
    }
    return line + " " + ReportText(verdict);
}

std::vector<std::string> WarningTexts(const TestVerdict& verdict) {
    std::vector<std::string> texts;
    for (const TestWarning& warning : verdict.warnings) {
        texts.push_back(warning.Text());
    }
    for (const finder::Finding& finding : verdict.findings) {
        if (finding.cause != finder::Cause::LimitSwitch) {
            texts.push_back(finding.Headline());
        }
    }
    for (std::string& flag : history::DriftFlagTexts(verdict.drift)) {
        texts.push_back(std::move(flag));
    }
    return texts;
}

Headline HeadlineOf(const TestVerdict& verdict) {
    switch (verdict.kind) {
        case TestVerdict::Kind::Passed:
            if (!verdict.PassedWithWarnings()) {
                return {"PASSED", "passed"};
            } else {
                std::string text = "PASSED WITH WARNINGS: ";
                const std::vector<std::string> warnings = WarningTexts(verdict);
                for (std::size_t i = 0; i < warnings.size(); ++i) {
                    text += (i == 0 ? "" : "; ") + warnings[i];
                }
                return {text, "warning"};
            }
        case TestVerdict::Kind::Aborted: {
            const std::string aborted = AxesOfKind(verdict, AxisVerdict::Kind::Aborted);
            return {"FAILED: " + (aborted.empty() ? SettledAxesText(verdict) : aborted), "failed"};
        }
        case TestVerdict::Kind::Unverified: {
            const std::string unverified = AxesOfKind(verdict, AxisVerdict::Kind::Unverified);
            return {"INCOMPLETE: " +
                        (unverified.empty() ? std::string("replies of the checks out of step")
                                            : unverified),
                    "incomplete"};
        }
        case TestVerdict::Kind::LinkLost:
            return {"INCOMPLETE: " + LinkLostText(verdict), "incomplete"};
        case TestVerdict::Kind::Stopped:
            return {verdict.stoppedByOperator ? "INCOMPLETE: stopped by the operator"
                                              : "INCOMPLETE: stopped when the program closed",
                    "incomplete"};
        case TestVerdict::Kind::NoConnection:
            break;
    }
    return {"INCOMPLETE: not run, no connection", "incomplete"};
}

}  // namespace trevane
