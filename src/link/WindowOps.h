#pragma once

#include <memory>
#include <string>

namespace trevane {

// The window's periodic timers: the status poll and the test's progress bar.
inline constexpr int IDT_STATUS = 1;
inline constexpr int IDT_PROGRESS = 2;
inline constexpr int kTimerPeriodMs = 10;

// The operations that the logic needs of the main window. The Qt window implements them on its
// widgets; tests and trevane-cli implement them headless. All text is 8-bit (the local 8-bit
// encoding); line breaks at this boundary are "\r\n".
//
// Threading contract for implementations: every operation may be called from any thread. Called
// from a thread other than the window's, it runs on the window's thread while the caller waits;
// called on the window's thread it runs directly. A waiting caller gives up (the operation is
// skipped) once its thread's stop token (CurrentStopToken()) is stopped or the window is gone,
// and an operation queued by such a caller that reaches the window's thread after the stop is
// skipped too.
class WindowOps {
  public:
    virtual ~WindowOps() = default;

    // IDC_IPADDRESS: at most 254 characters.
    virtual std::string ReadAddress() = 0;

    // IDC_TRANSCRIPT: current text (the operator's edits included) followed directly by `text`.
    virtual void AppendTranscript(const std::string& text) = 0;
    // An empty selection at the end of the transcript, scrolled into view.
    virtual void ScrollTranscriptToEnd() = 0;

    // IDC_COMMAND.
    virtual std::string CommandText() = 0;
    virtual void SetCommandText(const std::string& text) = 0;

    // IDC_TESTSTATUS, IDC_RUNTEST, IDC_PROGRESS.
    virtual void SetTestStatus(const std::string& text) = 0;
    virtual void SetRunTestCaption(const std::string& caption) = 0;
    virtual void SetProgress(int position) = 0;

    // IDC_STATUSLIST: row 0..12, column 1..4 (column 0 holds the fixed labels).
    virtual void SetStatusCell(int row, int column, const std::string& text) = 0;

    // IDC_AXIS_X..IDC_AXIS_W by axis index 0..3, and the position of IDC_SPEED.
    virtual bool IsAxisChecked(int axis) = 0;
    virtual int SpeedPosition() = 0;

    // Periodic window timers by id (IDT_STATUS, IDT_PROGRESS). Starting a running id re-arms it;
    // stopping a timer that does not run is harmless.
    virtual void StartTimer(int id, int periodMs) = 0;
    virtual void StopTimer(int id) = 0;

    // A modal message box with one OK button and no icon; returns when it is closed.
    // `ownedByWindow` false: owned by no window, so the main window stays usable meanwhile.
    virtual void ShowMessage(const std::string& text, const std::string& caption,
                             bool ownedByWindow) = 0;

    // Opens a folder in the desktop's file browser; the outcome is not looked at.
    virtual void OpenFolder(const std::string& path) = 0;
};

// The window the logic talks to. Until one is installed (and after it is removed) every
// operation does nothing and reads return empty values, so nothing touches a window that is
// gone. The returned pointer keeps the operations object alive for the caller's use.
std::shared_ptr<WindowOps> Window();
void SetWindow(std::shared_ptr<WindowOps> window);

}  // namespace trevane
