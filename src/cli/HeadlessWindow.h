#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "link/Operator.h"

namespace trevane::cli {

// The operator without a window. Failed commands are counted (the session watcher names each
// one); message boxes go to the error stream at once; the rest of the transcript is kept for the
// verb to print as it likes; test status lines go to the output stream. Polling does nothing:
// the CLI does not poll. Calls run on the calling thread and may come from any thread.
class HeadlessWindow final : public Operator {
  public:
    // Text from a controller reaches `out` (`err`) escaped when `outIsTerminal` (`errIsTerminal`),
    // unchanged otherwise.
    HeadlessWindow(std::ostream& out, std::ostream& err, bool outIsTerminal, bool errIsTerminal);

    void SetAddress(std::string address);
    void SetAxisChecked(int axis, bool checked);

    // Transcript text appended since the last call, command-error lines left out.
    std::string TakeTranscript();
    // How many commands failed.
    int CommandErrorCount() const;

    // While held, message boxes are kept instead of printed (Connect reports its own line).
    void HoldMessages(bool hold);
    std::vector<std::string> TakeHeldMessages();

    std::string Address() override;
    void AppendTranscript(const std::string& text) override;
    void ScrollTranscriptToEnd() override {}
    void CommandFailed(const CommandFailure& failure) override;
    void SessionReopened(const std::string& text) override;
    std::string CommandText() override;
    void SetCommandText(const std::string& text) override;
    void SetTestStatus(const std::string& text) override;
    void TestRunningChanged(bool) override {}
    void PollingChanged(bool) override {}
    void ShowStatus(const StatusTable&) override {}
    bool AxisChosen(int axis) override;
    int JogSpeed() override;
    void ShowMessage(const std::string& text, const std::string& caption,
                     bool ownedByWindow) override;
    void OpenFolder(const std::string& path) override;

  private:
    std::string ForOut(std::string_view text) const;
    std::string ForErr(std::string_view text) const;

    mutable std::mutex mutex_;
    bool outIsTerminal_;
    bool errIsTerminal_;
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

}  // namespace trevane::cli
