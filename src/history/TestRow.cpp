#include "history/TestRow.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>

#include "autotest/Outcomes.h"
#include "common/CLocale.h"
#include "history/History.h"

namespace trevane::history {
namespace {

std::string StampUtc(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{floor<seconds>(time - day)};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                  int(clock.minutes().count()), int(clock.seconds().count()));
    return text;
}

std::int64_t MillisecondsUtc(std::chrono::system_clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

std::string StampLocal(std::chrono::system_clock::time_point time) {
    return FormatTimeC("%Y-%m-%dT%H:%M:%S", ToLocalTime(time));
}

std::string MoveVerdict(const MoveTrace& move) {
    if (move.aborted) {
        return outcome::kAborted;
    }
    if (!move.Reported()) {
        return outcome::kUnfinished;
    }
    // Only a move whose every reading arrived may serve as a baseline.
    return move.Measured() ? outcome::kCompleted : outcome::kUnverified;
}

std::string OutcomeOf(const TestRecord& record) {
    if (record.outcome == TestOutcome::Completed) {
        bool unverified = false;
        for (const MoveTrace& move : record.moves) {
            if (move.aborted) {
                return "move aborted";
            }
            unverified = unverified || !move.Measured();
        }
        if (unverified) {
            return outcome::kUnverified;
        }
    }
    return TestOutcomeText(record.outcome);
}

MoveRow RowOfMove(const MoveTrace& trace) {
    MoveRow move;
    move.moveIndex = trace.moveIndex;
    move.axis = std::string(1, trace.axis);
    move.target = trace.target;
    move.verdict = MoveVerdict(trace);
    move.reason = AbortReasonText(trace.abortReason);
    move.abortReading = trace.abortReading;
    move.maxTorque = trace.maxTorque;
    move.maxError = trace.moveMaxError;
    move.finalError = trace.currentError;
    move.finalPosition = trace.currentPosition;
    for (const TraceSample& s : trace.samples) {
        move.samples.push_back({s.timeMs, double{s.torque}, double{s.error}});
    }
    return move;
}

}  // namespace

TestRow RowOfRecord(const TestRecord& record, const TestFiles& files) {
    TestRow row;
    row.uuid = NewUuid();
    row.testNumber = record.testNumber;
    row.startedUtc = StampUtc(record.startTime);
    row.startedLocal = StampLocal(record.startTime);
    if (record.endTime) {
        row.startedMs = MillisecondsUtc(record.startTime);
        row.endedMs = MillisecondsUtc(*record.endTime);
    }
    SplitConnectionText(record.identity.value_or(""), row.address, row.port, row.identity);
    row.outcome = OutcomeOf(record);
    row.logFile = files.log;
    row.reportFile = files.report;
    row.samplesFile = files.samples;
    for (const LoggedReading& reading : record.checks) {
        row.checks.push_back({"check", reading.label, reading.reply});
    }
    for (const LoggedReading& reading : record.motionOutputs) {
        row.checks.push_back({"output", reading.label, reading.reply});
    }
    if (record.cnSaved) {
        row.checks.push_back({"cn", "saved", FormatFixed(*record.cnSaved)});
    }
    if (record.cnRestored) {
        row.checks.push_back({"cn", "restored", FormatInt(*record.cnRestored)});
    }
    for (const MoveTrace& trace : record.moves) {
        row.moves.push_back(RowOfMove(trace));
    }
    return row;
}

std::string NewUuid() {
    // Seeded once from the system's entropy: two programs, or two threads, never share a stream.
    static std::mutex mutex;
    static std::mt19937_64 engine = [] {
        std::random_device entropy;
        std::seed_seq seed{entropy(), entropy(), entropy(), entropy(),
                           entropy(), entropy(), entropy(), entropy()};
        return std::mt19937_64(seed);
    }();
    unsigned char bytes[16];
    {
        std::lock_guard lock(mutex);
        for (int half = 0; half < 2; ++half) {
            const std::uint64_t bits = engine();
            for (int i = 0; i < 8; ++i) {
                bytes[half * 8 + i] = static_cast<unsigned char>(bits >> (8 * i));
            }
        }
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
    static const char* const kHex = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text += '-';
        }
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0f];
    }
    return text;
}

}  // namespace trevane::history
