#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "link/WindowOps.h"

class QThread;

namespace trevane {

class MainWindow;

// The window operations of the logic, carried out on the main dialog's widgets.
//
// On the window's thread an operation runs at once. From another thread (the automatic test's)
// it is queued to the window's thread and the caller waits for it, but never without end: the
// wait gives way as soon as the caller's stop token is stopped or the window is detached, and a
// queued operation whose caller gave up, or whose window is gone, is skipped when it comes up.
// Queueing to one's own thread and waiting would deadlock, hence the thread check.
class QtWindowOps final : public WindowOps {
  public:
    // On the window's thread, with the dialog's controls in place.
    explicit QtWindowOps(MainWindow& dialog);

    // On the window's thread, before the dialog goes: from then on every operation does
    // nothing and returns an empty value, and every waiting caller returns.
    void Detach();

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
    struct Shared {
        std::mutex mutex;
        std::condition_variable_any wake;
        std::atomic<bool> attached{true};
    };

    // Runs `operation(dialog)` on the window's thread; `fallback` when it could not run.
    template <typename Result, typename Operation>
    Result Run(Result fallback, Operation operation);

    std::shared_ptr<Shared> shared_;
    MainWindow* const dialog_;  // used only on the window's thread, and only while attached
    QThread* const windowThread_;
};

}  // namespace trevane
