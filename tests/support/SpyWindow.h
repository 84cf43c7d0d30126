#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "link/Operator.h"

namespace trevane::testing {

// The window's timers as the spy keeps them: polling (after Connect) and the progress bar's
// (started with the first test).
inline constexpr int IDT_STATUS = 1;
inline constexpr int IDT_PROGRESS = 2;

// A headless operator that records what the controller did to it, the way the window shows it
// (captions, timers, cells). Thread-safe; calls run on the calling thread.
class SpyWindow : public Operator {
  public:
    struct Message {
        std::string text;
        std::string caption;
        bool ownedByWindow;
    };

    // Inputs the logic reads.
    void SetAddress(std::string address);
    void SetAxisChecked(int axis, bool checked);
    void SetSpeed(int position);
    void TypeCommand(std::string text);
    // Replaces the transcript's text, as an operator typing into it would.
    void EditTranscript(std::string text);

    // What the logic did.
    std::string Transcript() const;
    int ScrollCount() const;
    std::string CommandEntry() const;
    std::string TestStatus() const;
    std::vector<std::string> TestStatusHistory() const;
    std::string RunTestCaption() const;
    int Progress() const;
    // Row 0..12 of column 1..4 (X..W), as the status table shows it.
    std::string Cell(int row, int column) const;
    bool TimerRunning(int id) const;
    std::vector<Message> Messages() const;
    std::vector<std::string> OpenedFolders() const;

    // The progress timer's tick, as the window does it: shows the test's progress.
    void SetProgress(int position);
    // The failures and reopenings the controller told of, and the sessions' last states.
    std::vector<CommandFailure> Failures() const;
    std::vector<std::string> Reopenings() const;
    std::pair<SessionStatus, SessionStatus> Sessions() const;

    // Operator
    std::string Address() override;
    void AppendTranscript(const std::string& text) override;
    void ScrollTranscriptToEnd() override;
    std::string CommandText() override;
    void SetCommandText(const std::string& text) override;
    bool AxisChosen(int axis) override;
    int JogSpeed() override;
    void CommandFailed(const CommandFailure& failure) override;
    void SessionReopened(const std::string& text) override;
    void SessionChanged(const SessionStatus& command, const SessionStatus& record) override;
    void SetTestStatus(const std::string& text) override;
    void TestRunningChanged(bool running) override;
    void PollingChanged(bool polling) override;
    void ShowStatus(const StatusTable& values) override;
    void ShowMessage(const std::string& text, const std::string& caption,
                     bool ownedByWindow) override;
    void OpenFolder(const std::string& path) override;

  private:
    mutable std::mutex mutex_;
    std::string address_ = "127.0.0.1";
    bool axes_[4] = {false, false, false, false};
    int speed_ = -50;
    std::string command_;
    std::string transcript_;
    int scrolls_ = 0;
    std::string status_ = "Not Running";
    std::vector<std::string> statusHistory_;
    std::string caption_ = "Run Auto Test";
    int progress_ = 0;
    std::map<std::pair<int, int>, std::string> cells_;
    std::map<int, bool> timers_;
    std::vector<Message> messages_;
    std::vector<std::string> folders_;
    std::vector<CommandFailure> failures_;
    std::vector<std::string> reopenings_;
    SessionStatus commandSession_;
    SessionStatus recordSession_;
};

}  // namespace trevane::testing
