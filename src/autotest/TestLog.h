#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "common/FileAppend.h"

namespace trevane {

class ControllerLink;

// One controller's test log: a file in the working directory named at start-up, appended to one
// entry at a time, each entry also shown on the operator's status line.
class TestLog {
  public:
    explicit TestLog(ControllerLink& link);
    TestLog(const TestLog&) = delete;
    TestLog& operator=(const TestLog&) = delete;

    // Names the log from the system clock's local time: "logFile.txt %m%d%y-%H%M%S.txt " (30
    // characters, the last a blank); the file on disk carries the name without that blank. The
    // first entry creates the file exclusively: when anything of that name exists already
    // (another test of the same second), the name gets "-2" before ".txt" ("-3" after that, and
    // so on, up to "-100"). Nothing already there is ever written to, nor anything a symbolic
    // link leads to.
    void MakeFileName();
    // The folder the file is made in: the working directory unless another is set (each
    // controller of a fleet has its own). Set before the first entry.
    void SetFolder(std::string folder);
    // Counts a test started with the current name and returns its number: 1 for the first test
    // since MakeFileName, 2 for the second, and so on (the n-th "Starting Test" of the log).
    int CountTestStart();
    // The file name as opened on disk, without its trailing blank. Any thread. Empty once no
    // file could be made for the log: then there is no log.
    std::string FilePath() const;
    // Shows message + suffix on the status line, then appends "<%x %X stamp> <message><suffix>"
    // with every LF stored as CR LF. Never fails to its caller: an entry that cannot be written
    // whole is dropped whole and counted in LostEntries(). On a test thread that has been asked
    // to stop it unwinds with TestAborted and writes nothing, so no entry of the test follows
    // the abort entry.
    void Write(const std::string& message, const std::string& suffix);
    // Entries that could not be written whole since the name was made; any thread.
    int LostEntries() const { return lostEntries_.load(); }
    // Why the last of those was lost ("writing it failed: No space left on device"), without the
    // file's name; empty when none was. When no file could be made, the reason names the folder
    // and the names tried.
    std::string LastWriteFailure() const;

  private:
    enum class FileState { NotMade, Made, NoName };
    void MakeFileLocked();
    void AppendEntry(const std::string& text);
    std::string InFolderLocked(const std::string& name) const;
    std::string FolderTextLocked() const;

    ControllerLink& link_;
    std::atomic<int> testsStarted_{0};
    // Serialises the appends, and with them the stop check that keeps a stopped test's entries
    // from landing behind "Test Aborted by User". Never held across an operator call: the test
    // thread may be waiting for the window's thread while that thread is inside an abort.
    mutable std::mutex mutex_;
    std::string folder_;    // "" for the working directory
    std::string name_;      // as it stands, trailing blank included; "" once none could be made
    std::string madeName_;  // as made, before any "-n"
    FileState state_ = FileState::NotMade;
    FileIdentity identity_;
    std::string noFileReason_;
    std::atomic<int> lostEntries_{0};
    std::string lastFailure_;
};

}  // namespace trevane
