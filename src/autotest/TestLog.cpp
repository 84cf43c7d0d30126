#include "autotest/TestLog.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

#include "common/CLocale.h"
#include "common/Clock.h"
#include "common/FileAppend.h"
#include "common/StopControl.h"
#include "link/WindowOps.h"

namespace trevane {

char g_logFileName[80] = {};

namespace {

// Tests started since the log file's name was made; from the second on, the n-th test's report
// carries "-n" in its name.
std::atomic<int> g_testsStartedInLog{0};

constexpr const char* kLogFileNamePattern = "logFile.txt %m%d%y-%H%M%S.txt ";
constexpr const char* kStampPattern = "%x %X ";

// Serialises the appends, and with them the stop check that keeps a stopped test's entries from
// landing behind "Test Aborted by User". Never held across a window operation: the test thread
// may be waiting for the window's thread while that thread is inside AbortTest.
std::mutex g_logFileMutex;

// Entries lost since the log's name was made, and why the last one was; the reason is guarded by
// g_logFileMutex.
std::atomic<int> g_lostLogEntries{0};
std::string g_lastLogFailure;

std::string CurrentStamp() {
    return FormatTimeC(kStampPattern, ToLocalTime(SystemClockShared()->WallNow()));
}

// The reference writes in text mode: every LF becomes CR LF, a CR stays as it is. Translating
// here gives the same bytes on every platform.
std::string StoredBytes(const std::string& stamp, const std::string& text) {
    std::string bytes;
    bytes.reserve(stamp.size() + 1 + text.size() + 8);
    bytes += stamp;
    bytes += ' ';
    for (char c : text) {
        if (c == '\n') {
            bytes += '\r';
        }
        bytes += c;
    }
    return bytes;
}

// One entry, appended with one write and closed, so it is complete in the file on return. An
// entry that cannot be written whole is taken out again and counted, and nothing else is lost.
void AppendEntry(const std::string& text) {
    std::lock_guard lock(g_logFileMutex);
    ThrowIfStopRequested();
    const std::string bytes = StoredBytes(CurrentStamp(), text);
    if (std::optional<std::string> failure = AppendWhole(LogFilePath(), bytes)) {
        g_lastLogFailure = std::move(*failure);
        ++g_lostLogEntries;
    }
}

}  // namespace

void MakeLogFileName() {
    const std::string name =
        FormatTimeC(kLogFileNamePattern, ToLocalTime(SystemClockShared()->WallNow()));
    const std::size_t length = std::min(name.size(), sizeof g_logFileName - 1);
    std::memcpy(g_logFileName, name.data(), length);
    g_logFileName[length] = '\0';
    g_testsStartedInLog = 0;
    std::lock_guard lock(g_logFileMutex);
    g_lostLogEntries = 0;
    g_lastLogFailure.clear();
}

int CountTestStartInLog() {
    return ++g_testsStartedInLog;
}

std::string LogFilePath() {
    std::string path(g_logFileName);
    while (!path.empty() && path.back() == ' ') {
        path.pop_back();
    }
    return path;
}

int LostLogEntries() {
    return g_lostLogEntries;
}

std::string LastLogWriteFailure() {
    std::lock_guard lock(g_logFileMutex);
    return g_lastLogFailure;
}

void WriteLog(const std::string& message, const std::string& suffix) {
    ThrowIfStopRequested();
    try {
        std::string text = message + suffix;
        // The entry travels as a C string: a NUL inside a reply ends it.
        text.resize(std::min(text.size(), text.find('\0')));
        Window()->SetTestStatus(text);
        AppendEntry(text);
    } catch (const TestAborted&) {
        throw;
    } catch (...) {
        // The log never fails its caller; what is done stays done.
    }
}

}  // namespace trevane
