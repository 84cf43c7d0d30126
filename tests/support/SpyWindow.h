#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "link/WindowOps.h"

namespace trevane::testing {

// A headless window that records what the logic did to it. Thread-safe; operations run on the
// calling thread.
class SpyWindow : public WindowOps {
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
    std::string Cell(int row, int column) const;
    bool TimerRunning(int id) const;
    std::vector<Message> Messages() const;
    std::vector<std::string> OpenedFolders() const;

    // WindowOps
    std::string ReadAddress() override;
    void AppendTranscript(const std::string& text) override;
    void ScrollTranscriptToEnd() override;
    std::string CommandText() override;
    void SetCommandText(const std::string& text) override;
    void SetTestStatus(const std::string& text) override;
    void SetRunTestCaption(const std::string& caption) override;
    void SetProgress(int position) override;
    void SetStatusCell(int row, int column, const std::string& text) override;
    bool IsAxisChecked(int axis) override;
    int SpeedPosition() override;
    void StartTimer(int id, int periodMs) override;
    void StopTimer(int id) override;
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
};

}  // namespace trevane::testing
