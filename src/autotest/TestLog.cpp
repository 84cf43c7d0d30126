#include "autotest/TestLog.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "common/CLocale.h"
#include "common/Clock.h"
#include "common/StopControl.h"
#include "controller/WindowOps.h"

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

// One entry, opened and closed on its own so it is complete in the file on return. A file that
// cannot be opened or written loses the entry and nothing else.
void AppendEntry(const std::string& text) {
    std::lock_guard lock(g_logFileMutex);
    ThrowIfStopRequested();
    const std::string bytes = StoredBytes(CurrentStamp(), text);
    std::FILE* file = std::fopen(LogFilePath().c_str(), "ab");
    if (file == nullptr) {
        return;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

}  // namespace

void MakeLogFileName() {
    const std::string name =
        FormatTimeC(kLogFileNamePattern, ToLocalTime(SystemClockShared()->WallNow()));
    const std::size_t length = std::min(name.size(), sizeof g_logFileName - 1);
    std::memcpy(g_logFileName, name.data(), length);
    g_logFileName[length] = '\0';
    g_testsStartedInLog = 0;
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
