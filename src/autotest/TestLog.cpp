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
#include "link/ControllerLink.h"

namespace trevane {

namespace {

constexpr const char* kLogFileNamePattern = "logFile.txt %m%d%y-%H%M%S.txt ";
constexpr const char* kStampPattern = "%x %X ";

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

std::string CurrentFolderText() {
    std::error_code unknown;
    const std::filesystem::path folder = std::filesystem::current_path(unknown);
    return unknown ? std::string(".") : TextFromPath(folder);
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

}  // namespace

TestLog::TestLog(ControllerLink& link) : link_(link) {}

// Another program's test of the same second has the same name: the log is created exclusively,
// and a name already taken (by anything at all) gets "-2", "-3" and so on, so two tests never
// share one file.
void TestLog::MakeFileLocked() {
    if (state_ != FileState::NotMade) {
        return;
    }
    for (int number = 1; number <= kLogFileNames; ++number) {
        const std::string name = NumberedName(madeName_, number);
        std::string failure;
        switch (CreateNewFile(InFolderLocked(name), failure, &identity_)) {
            case NewFile::Created:
                name_ = name;
                state_ = FileState::Made;
                return;
            case NewFile::Taken:
                continue;
            case NewFile::Failed:
                noFileReason_ = "the log file '" + WithoutTrailingBlanks(name) +
                                    "' could not be made in '" + FolderTextLocked() +
                                    "': " + failure;
                break;
        }
        break;
    }
    if (noFileReason_.empty()) {
        noFileReason_ =
            "no free name for the log file in '" + FolderTextLocked() + "': '" +
            WithoutTrailingBlanks(NumberedName(madeName_, 1)) + "' to '" +
            WithoutTrailingBlanks(NumberedName(madeName_, kLogFileNames)) +
            "' are all taken";
    }
    // No name of another test's file is left for anyone to write to or to name a report after.
    name_.clear();
    state_ = FileState::NoName;
}

// One entry, appended with one write and closed, so it is complete in the file on return. An
// entry that cannot be written whole is taken out again and counted, and nothing else is lost.
void TestLog::AppendEntry(const std::string& text) {
    std::lock_guard lock(mutex_);
    ThrowIfStopRequested();
    MakeFileLocked();
    if (state_ == FileState::NoName) {
        lastFailure_ = noFileReason_;
        ++lostEntries_;
        return;
    }
    const std::string bytes = StoredBytes(CurrentStamp(), text);
    if (std::optional<std::string> failure = AppendWholeToOwnFile(
            InFolderLocked(name_), identity_, bytes)) {
        lastFailure_ = std::move(*failure);
        ++lostEntries_;
    }
}

void TestLog::MakeFileName() {
    // At most 79 characters, as the reference's name buffer holds.
    const std::string name =
        FormatTimeC(kLogFileNamePattern, ToLocalTime(SystemClockShared()->WallNow())).substr(0, 79);
    testsStarted_ = 0;
    std::lock_guard lock(mutex_);
    name_ = name;
    madeName_ = name;
    state_ = FileState::NotMade;
    identity_ = {};
    noFileReason_.clear();
    lostEntries_ = 0;
    lastFailure_.clear();
}

int TestLog::CountTestStart() {
    return ++testsStarted_;
}

std::string TestLog::FilePath() const {
    std::lock_guard lock(mutex_);
    return name_.empty() ? std::string() : InFolderLocked(name_);
}

void TestLog::SetFolder(std::string folder) {
    std::lock_guard lock(mutex_);
    folder_ = std::move(folder);
}

std::string TestLog::InFolderLocked(const std::string& name) const {
    const std::string file = WithoutTrailingBlanks(name);
    return folder_.empty() ? file : TextFromPath(PathFromText(folder_) / PathFromText(file));
}

std::string TestLog::FolderTextLocked() const {
    return folder_.empty() ? CurrentFolderText() : folder_;
}

std::string TestLog::LastWriteFailure() const {
    std::lock_guard lock(mutex_);
    return lastFailure_;
}

void TestLog::Write(const std::string& message, const std::string& suffix) {
    ThrowIfStopRequested();
    try {
        std::string text = message + suffix;
        // The entry travels as a C string: a NUL inside a reply ends it.
        text.resize(std::min(text.size(), text.find('\0')));
        link_.TheOperator()->SetTestStatus(text);
        AppendEntry(text);
    } catch (const TestAborted&) {
        throw;
    } catch (...) {
        // The log never fails its caller; what is done stays done.
    }
}

}  // namespace trevane
