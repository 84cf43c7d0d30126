#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "autotest/TestRecord.h"

// A stored test as its rows hold it, whole: what one store hands another when the local file
// sends what waits for the server.
namespace trevane::history {

struct CheckRow {
    std::string kind;  // "check", "output" or "cn"
    std::string label;
    std::string reply;
};

struct SampleRow {
    double timeMs = 0;
    double torque = 0;
    double error = 0;
};

struct MoveRow {
    int moveIndex = 0;
    std::string axis;
    int target = 0;
    std::string verdict;
    std::string reason;
    std::string abortReading;
    double maxTorque = 0;
    double maxError = 0;
    std::optional<std::string> finalError;
    std::optional<std::string> finalPosition;
    std::vector<SampleRow> samples;  // by cycle
};

struct TestRow {
    std::string uuid;  // the test's identity in every store
    int testNumber = 0;
    std::string startedUtc;
    std::string startedLocal;
    // The run, start to end, in ms since 1970 (UTC): both or neither (a test stored before
    // they were kept, or a record with no end).
    std::optional<std::int64_t> startedMs;
    std::optional<std::int64_t> endedMs;
    std::string address;
    int port = 0;
    std::string identity;
    std::string outcome;
    std::string logFile;
    std::string reportFile;
    std::string samplesFile;
    std::vector<CheckRow> checks;
    std::vector<MoveRow> moves;
};

struct TestFiles;

// The rows of a test that just ended, under a new identity.
TestRow RowOfRecord(const TestRecord& record, const TestFiles& files);

// A random (version 4) UUID, "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx".
std::string NewUuid();

}  // namespace trevane::history
