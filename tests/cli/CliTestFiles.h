#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "autotest/TestRecord.h"

// What the command line's tests, in process or as a program, make and find in a scratch folder.
namespace trevane::testing {

// One move of X reaching `maxError`, as a kept test holds it.
inline TestRecord OneMoveTest(float maxError,
                              const std::string& identity = "127.0.0.1:23 Scripted 1.0") {
    TestRecord record;
    record.testNumber = 1;
    record.startTime = std::chrono::system_clock::time_point(std::chrono::seconds(1354197909));
    record.identity = identity;
    record.outcome = TestOutcome::Completed;
    MoveTrace move;
    move.axis = 'X';
    move.target = -20000;
    move.maxTorque = 0.5f;
    move.moveMaxError = maxError;
    move.currentPosition = "-20000";
    move.samples = {{0.0, 0.25f, 3.0f}};
    record.moves.push_back(move);
    return record;
}

// The automatic test's log files in `folder` ("logFile.txt <stamp>.txt").
inline std::vector<std::filesystem::path> LogFilesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> logs;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("logFile.txt ") && name.ends_with(".txt")) {
            logs.push_back(entry.path());
        }
    }
    return logs;
}

}  // namespace trevane::testing
