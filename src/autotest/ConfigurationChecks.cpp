#include "autotest/ConfigurationChecks.h"

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "autotest/TestLog.h"
#include "autotest/TestRecorder.h"
#include "autotest/TestRunner.h"
#include "common/CLocale.h"
#include "common/StopControl.h"
#include "autotest/TestContext.h"
#include "link/ControllerLink.h"

namespace trevane {

namespace {

struct Check {
    std::string_view command;
    const char* label;
};

// The axis letters here are fixed text, not taken from g_axisNames.
constexpr std::array<Check, 19> kChecks = {{
    {"SP*=?", "SP: "},
    {"AC*=?", "AC: "},
    {"DC*=?", "DC: "},
    {"KP*=?", "KP: "},
    {"KI*=?", "KI: "},
    {"KD*=?", "KD: "},
    {"MG _CN", "_CN: "},
    {"MG @OUT[1]", "BIT1: "},
    {"MG @OUT[2]", "BIT2: "},
    {"MG @OUT[3]", "BIT3: "},
    {"MG @OUT[4]", "BIT4: "},
    {"MG _LFX", "X Forward Limit: "},
    {"MG _LRX", "X Reverse Limit: "},
    {"MG _LFY", "Y Forward Limit: "},
    {"MG _LRY", "Y Reverse Limit: "},
    {"MG _LFZ", "Z Forward Limit: "},
    {"MG _LRZ", "Z Reverse Limit: "},
    {"MG _LFW", "W Forward Limit: "},
    {"MG _LRW", "W Reverse Limit: "},
}};

constexpr std::string_view kGainCheck = "KP*=?";
constexpr std::string_view kCnCheck = "MG _CN";

// The connection query bypasses the command routine, so it gets its own guard: a failure (or no session
// at all) reads as an empty description and the test goes on, as after any failed command.
std::string ConnectionDescription(ControllerLink& link) {
    ThrowIfStopRequested();
    std::string description;
    const std::shared_ptr<MotionClient> session = link.CommandSession();
    try {
        if (session) {
            description = session->connection();
            link.NoteSessionUse(session);
        }
    } catch (const std::exception& error) {
        link.NoteSessionFailure(session, error);
        description.clear();
    } catch (...) {
        description.clear();
    }
    ThrowIfStopRequested();
    return description;
}

}  // namespace

void RunConfigurationChecks(TestContext& test) {
    ControllerLink& link = test.link;
    const std::uint64_t outOfStepBefore = link.OutOfStepReplies();
    test.cnSavedTrusted = true;
    link.SendCommand("HX");
    const std::string description = ConnectionDescription(link);
    test.log.Write("ID: ", description + "\r\n");
    test.recorder.SetIdentity(description);
    for (const Check& check : kChecks) {
        const std::uint64_t outOfStepBeforeCheck = link.OutOfStepReplies();
        const std::string reply = check.command == kCnCheck
                                      ? link.TrySendReading(std::string(check.command)).value_or("")
                                      : link.SendCommand(std::string(check.command));
        if (check.command == kCnCheck) {
            const float cn = ReadNumber(reply);
            test.cnCurrent = cn;
            test.cnSaved = cn;
            test.cnSavedTrusted = link.OutOfStepReplies() == outOfStepBeforeCheck;
        }
        test.log.Write(check.label, reply);
        // Recorded behind its log entry, so the record never holds more than the log.
        test.recorder.AddCheck(check.label, reply);
        if (check.command == kCnCheck) {
            test.recorder.SetCnSaved(test.cnSaved);
        }
        if (check.command == kGainCheck) {
            test.runner.ReportProgress(40);
        }
    }
    test.runner.ReportProgress(50);
    test.recorder.CountOutOfStepReplies(static_cast<int>(link.OutOfStepReplies() - outOfStepBefore));
    Wait(std::chrono::seconds(2));
    test.log.Write("Done with Checks", "\n");
}

}  // namespace trevane
