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
#include "link/Link.h"

namespace trevane {

std::atomic<float> g_cnSaved{0.0f};
std::atomic<float> g_cnCurrent{0.0f};
std::atomic<bool> g_cnSavedTrusted{true};

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

// The connection query bypasses SendCommand, so it gets its own guard: a failure (or no session
// at all) reads as an empty description and the test goes on, as after any failed command.
std::string ConnectionDescription() {
    ThrowIfStopRequested();
    std::string description;
    const std::shared_ptr<MotionClient> session = CommandSession();
    try {
        if (session) {
            description = session->connection();
        }
    } catch (const std::exception& error) {
        NoteSessionFailure(session, error);
        description.clear();
    } catch (...) {
        description.clear();
    }
    ThrowIfStopRequested();
    return description;
}

}  // namespace

void RunConfigurationChecks() {
    const std::uint64_t outOfStepBefore = OutOfStepReplies();
    g_cnSavedTrusted = true;
    SendCommand("HX");
    const std::string description = ConnectionDescription();
    WriteLog("ID: ", description + "\r\n");
    Recorder().SetIdentity(description);
    for (const Check& check : kChecks) {
        const std::uint64_t outOfStepBeforeCheck = OutOfStepReplies();
        const std::string reply = check.command == kCnCheck
                                      ? TrySendReading(std::string(check.command)).value_or("")
                                      : SendCommand(std::string(check.command));
        if (check.command == kCnCheck) {
            const float cn = ReadNumber(reply);
            g_cnCurrent = cn;
            g_cnSaved = cn;
            g_cnSavedTrusted = OutOfStepReplies() == outOfStepBeforeCheck;
        }
        WriteLog(check.label, reply);
        // Recorded behind its log entry, so the record never holds more than the log.
        Recorder().AddCheck(check.label, reply);
        if (check.command == kCnCheck) {
            Recorder().SetCnSaved(g_cnSaved);
        }
        if (check.command == kGainCheck) {
            ReportProgress(40);
        }
    }
    ReportProgress(50);
    Recorder().CountOutOfStepReplies(static_cast<int>(OutOfStepReplies() - outOfStepBefore));
    Wait(std::chrono::seconds(2));
    WriteLog("Done with Checks", "\n");
}

}  // namespace trevane
