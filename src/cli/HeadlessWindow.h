#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "link/WindowOps.h"

namespace trevane::cli {

// The window's operations without a window. Command-error lines and message boxes go to the
// error stream at once; the rest of the transcript is kept for the verb to print as it likes;
// test status lines go to the output stream. Timers do nothing: the CLI does not poll.
// Operations run on the calling thread and may come from any thread.
class HeadlessWindow final : public WindowOps {
  public:
    HeadlessWindow(std::ostream& out, std::ostream& err);

    void SetAddress(std::string address);
    void SetAxisChecked(int axis, bool checked);
    void SetSpeedPosition(int position);

    // Transcript text appended since the last call, command-error lines left out.
    std::string TakeTranscript();
    // How many "a command error occurred" lines the transcript has received.
    int CommandErrorCount() const;

    // While held, message boxes are kept instead of printed (Connect reports its own line).
    void HoldMessages(bool hold);
    std::vector<std::string> TakeHeldMessages();

    std::string ReadAddress() override;
    void AppendTranscript(const std::string& text) override;
    void ScrollTranscriptToEnd() override {}
    std::string CommandText() override;
    void SetCommandText(const std::string& text) override;
    void SetTestStatus(const std::string& text) override;
    void SetRunTestCaption(const std::string&) override {}
    void SetProgress(int) override {}
    void SetStatusCell(int, int, const std::string&) override {}
    bool IsAxisChecked(int axis) override;
    int SpeedPosition() override;
    void StartTimer(int, int) override {}
    void StopTimer(int) override {}
    void ShowMessage(const std::string& text, const std::string& caption,
                     bool ownedByWindow) override;
    void OpenFolder(const std::string& path) override;

  private:
    mutable std::mutex mutex_;
    std::ostream& out_;
    std::ostream& err_;
    std::string address_;
    std::array<bool, 4> axes_{};
    int speed_ = 0;
    std::string command_;
    std::string transcript_;
    int commandErrors_ = 0;
    bool holdMessages_ = false;
    std::vector<std::string> heldMessages_;
};

// The window trevane-cli installs at start (Window() returns it, or a wrapper around it).
std::shared_ptr<HeadlessWindow> TheHeadlessWindow();

}  // namespace trevane::cli
