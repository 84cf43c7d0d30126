#pragma once

#include <array>
#include <string>

#include "link/SessionState.h"

namespace trevane {

// The thirteen values of each axis of one data record, as the status table shows them:
// [axis 0..3][row 0..12].
using StatusTable = std::array<std::array<std::string, 13>, 4>;

// One command that failed, for a front end that names failures ("TPX: timed out").
struct CommandFailure {
    std::string command;
    std::string reason;  // what failed, for logs; the window shows only the fixed line
    bool sessionLost = false;
};

// The operator's side of one controller: what the controller tells (events) and what it asks
// for (the operator's inputs, by name). The window implements it on its widgets; trevane-cli and
// tests implement it headless. All text is 8-bit (the local 8-bit encoding); line breaks at this
// boundary are "\r\n".
//
// Threading contract for implementations: every call may come from any thread. Called from a
// thread other than the window's, it runs on the window's thread while the caller waits; called
// on the window's thread it runs directly. A waiting caller gives up (the call is skipped) once
// its thread's stop token (CurrentStopToken()) is stopped or the window is gone, and a call
// queued by such a caller that reaches the window's thread after the stop is skipped too.
class Operator {
  public:
    virtual ~Operator() = default;

    // The controller's address as typed: at most 254 characters.
    virtual std::string Address() = 0;
    // The command entry's text, and its replacement once the command was taken.
    virtual std::string CommandText() = 0;
    virtual void SetCommandText(const std::string& text) = 0;
    // Whether axis 0..3 (X, Y, Z, W) is chosen for the jog, and the jog speed's position.
    virtual bool AxisChosen(int axis) = 0;
    virtual int JogSpeed() = 0;

    // The transcript: `text` after what it holds (the operator's edits included).
    virtual void AppendTranscript(const std::string& text) = 0;
    // An empty selection at the end of the transcript, scrolled into view.
    virtual void ScrollTranscriptToEnd() = 0;
    // A command failed. The operator sees the fixed line "a command error occurred" at the end
    // of the transcript; a front end that names failures may say more.
    virtual void CommandFailed(const CommandFailure& failure);
    // A session the controller had closed was opened again, once per reopening.
    virtual void SessionReopened(const std::string& text);
    // The state of the command or the record session changed.
    virtual void SessionChanged(const SessionStatus& command, const SessionStatus& record);
    // What a jog press could not move, and why ("W cannot be jogged"); empty after a press that
    // refused nothing. Only presses that reached the controller tell.
    virtual void JogRefused(const std::string& reason);

    // The test's status line, and whether a test runs now (the Run Auto Test button shows
    // "Abort Test" while one does, and the progress bar follows it).
    virtual void SetTestStatus(const std::string& text) = 0;
    virtual void TestRunningChanged(bool running) = 0;

    // Polling of the status record starts after a Connect and stops at the next one; each poll
    // that decoded a record shows it.
    virtual void PollingChanged(bool polling) = 0;
    virtual void ShowStatus(const StatusTable& values) = 0;

    // A modal message box with one OK button and no icon; returns when it is closed.
    // `ownedByWindow` false: owned by no window, so the main window stays usable meanwhile.
    virtual void ShowMessage(const std::string& text, const std::string& caption,
                             bool ownedByWindow) = 0;
    // Opens a folder in the desktop's file browser; the outcome is not looked at.
    virtual void OpenFolder(const std::string& path) = 0;
};

// An operator who sees nothing and has entered nothing: a controller's operator until a front
// end attaches, and again after it has gone.
class NoOperator : public Operator {
  public:
    std::string Address() override { return {}; }
    std::string CommandText() override { return {}; }
    void SetCommandText(const std::string&) override {}
    bool AxisChosen(int) override { return false; }
    int JogSpeed() override { return 0; }
    void AppendTranscript(const std::string&) override {}
    void ScrollTranscriptToEnd() override {}
    void CommandFailed(const CommandFailure&) override {}
    void SessionReopened(const std::string&) override {}
    void JogRefused(const std::string&) override {}
    void SetTestStatus(const std::string&) override {}
    void TestRunningChanged(bool) override {}
    void PollingChanged(bool) override {}
    void ShowStatus(const StatusTable&) override {}
    void ShowMessage(const std::string&, const std::string&, bool) override {}
    void OpenFolder(const std::string&) override {}
};

// Text of the link that the window shows or that callers rely on.
inline constexpr const char* kCommandErrorText = "a command error occurred";
inline constexpr const char* kConnectionFailedText = "Connection Failed";
inline constexpr const char* kMessageCaption = "Diagnostics";

}  // namespace trevane
