#include "autotest/TestLog.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>

#include "common/CLocale.h"
#include "common/Clock.h"
#include "common/FileAppend.h"
#include "common/PathText.h"
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
// Once made, the file is the one appended to, whatever takes its name later; when no file could
// be made, every entry is lost for the reason kept.
enum class LogFileState { NotMade, Made, NoName };
std::string g_madeLogFileName;
LogFileState g_logFileState = LogFileState::NotMade;
FileIdentity g_logFileIdentity;
std::string g_noLogFileReason;

// Tests of one second in other programs take "-2", "-3" and so on; far more than a second ever
// sees, few enough that a folder filled with names on purpose is given up on at once.
constexpr int kLogFileNames = 100;

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

std::string CurrentFolderText() {
    std::error_code unknown;
    const std::filesystem::path folder = std::filesystem::current_path(unknown);
    return unknown ? std::string(".") : TextFromPath(folder);
}

// Another program's test of the same second has the same name: the log is created exclusively,
// and a name already taken (by anything at all) gets "-2", "-3" and so on, so two tests never
// share one file.
void MakeLogFileLocked() {
    if (g_logFileState != LogFileState::NotMade) {
        return;
    }
    for (int number = 1; number <= kLogFileNames; ++number) {
        const std::string name = NumberedName(g_madeLogFileName, number);
        std::string failure;
        switch (CreateNewFile(WithoutTrailingBlanks(name), failure, &g_logFileIdentity)) {
            case NewFile::Created:
                SetLogFileNameLocked(name);
                g_logFileState = LogFileState::Made;
                return;
            case NewFile::Taken:
                continue;
            case NewFile::Failed:
                g_noLogFileReason = "the log file '" + WithoutTrailingBlanks(name) +
                                    "' could not be made in '" + CurrentFolderText() +
                                    "': " + failure;
                break;
        }
        break;
    }
    if (g_noLogFileReason.empty()) {
        g_noLogFileReason =
            "no free name for the log file in '" + CurrentFolderText() + "': '" +
            WithoutTrailingBlanks(NumberedName(g_madeLogFileName, 1)) + "' to '" +
            WithoutTrailingBlanks(NumberedName(g_madeLogFileName, kLogFileNames)) +
            "' are all taken";
    }
    // No name of another test's file is left for anyone to write to or to name a report after.
    SetLogFileNameLocked("");
    g_logFileState = LogFileState::NoName;
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
    MakeLogFileLocked();
    if (g_logFileState == LogFileState::NoName) {
        g_lastLogFailure = g_noLogFileReason;
        ++g_lostLogEntries;
        return;
    }
    const std::string bytes = StoredBytes(CurrentStamp(), text);
    if (std::optional<std::string> failure = AppendWholeToOwnFile(
            WithoutTrailingBlanks(g_logFileName), g_logFileIdentity, bytes)) {
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
    g_logFileState = LogFileState::NotMade;
    g_logFileIdentity = {};
    g_noLogFileReason.clear();
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
