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

// The name as made, and whether this program has made the file yet: guarded by g_logFileMutex.
std::string g_madeLogFileName;
bool g_logFileClaimed = false;

std::string WithoutTrailingBlanks(std::string path) {
    while (!path.empty() && path.back() == ' ') {
        path.pop_back();
    }
    return path;
}

// "logFile.txt 112912-140509.txt " -> "logFile.txt 112912-140509-2.txt ".
std::string NumberedName(const std::string& made, int number) {
    const std::size_t dot = made.rfind(".txt");
    if (number < 2 || dot == std::string::npos) {
        return made;
    }
    return made.substr(0, dot) + "-" + FormatInt(number) + made.substr(dot);
}

void SetLogFileNameLocked(const std::string& name) {
    const std::size_t length = std::min(name.size(), sizeof g_logFileName - 1);
    std::memcpy(g_logFileName, name.data(), length);
    g_logFileName[length] = '\0';
}

// Another program's test of the same second has the same name: the log is created exclusively,
// and a name already taken gets "-2", "-3" and so on, so two tests never share one file.
void ClaimLogFileLocked() {
    if (g_logFileClaimed) {
        return;
    }
    g_logFileClaimed = true;
    constexpr int kNames = 1000;
    for (int number = 1; number < kNames; ++number) {
        const std::string name = NumberedName(g_madeLogFileName, number);
        std::string failure;
        switch (CreateNewFile(WithoutTrailingBlanks(name), failure)) {
            case NewFile::Created:
                SetLogFileNameLocked(name);
                return;
            case NewFile::Taken:
                continue;
            case NewFile::Failed:
                return;  // the append fails too, and counts the entry as lost
        }
    }
}

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
    ClaimLogFileLocked();
    const std::string bytes = StoredBytes(CurrentStamp(), text);
    if (std::optional<std::string> failure =
            AppendWhole(WithoutTrailingBlanks(g_logFileName), bytes)) {
        g_lastLogFailure = std::move(*failure);
        ++g_lostLogEntries;
    }
}

}  // namespace

void MakeLogFileName() {
    const std::string name =
        FormatTimeC(kLogFileNamePattern, ToLocalTime(SystemClockShared()->WallNow()));
    g_testsStartedInLog = 0;
    std::lock_guard lock(g_logFileMutex);
    SetLogFileNameLocked(name);
    g_madeLogFileName = name;
    g_logFileClaimed = false;
    g_lostLogEntries = 0;
    g_lastLogFailure.clear();
}

int CountTestStartInLog() {
    return ++g_testsStartedInLog;
}

std::string LogFilePath() {
    std::lock_guard lock(g_logFileMutex);
    return WithoutTrailingBlanks(g_logFileName);
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
