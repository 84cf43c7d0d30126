#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "link/Operator.h"

class QThread;

namespace trevane {

class MainWindow;

// The controller's operator, on the main dialog's widgets: its events shown there, its questions
// answered from the controls.
//
// On the window's thread a call runs at once. From another thread (the automatic test's)
// it is queued to the window's thread and the caller waits for it, but never without end: the
// wait gives way as soon as the caller's stop token is stopped or the window is detached, and a
// queued operation whose caller gave up, or whose window is gone, is skipped when it comes up.
// Queueing to one's own thread and waiting would deadlock, hence the thread check.
//
// The sessions' states are the exception: they are posted and the caller goes on at once. The
// link tells them while it reopens a session, holding the lock that the window's own status
// poll waits for; waiting for the window there would hold both threads for ever.
class WindowOperator final : public Operator {
  public:
    // On the window's thread, with the dialog's controls in place.
    explicit WindowOperator(MainWindow& dialog);

    // On the window's thread, before the dialog goes: from then on every operation does
    // nothing and returns an empty value, and every waiting caller returns.
    void Detach();

    std::string Address() override;
    std::string CommandText() override;
    void SetCommandText(const std::string& text) override;
    bool AxisChosen(int axis) override;
    int JogSpeed() override;
    void AppendTranscript(const std::string& text) override;
    void ScrollTranscriptToEnd() override;
    void SessionChanged(const SessionStatus& command, const SessionStatus& record) override;
    void JogRefused(const std::string& reason) override;
    void SetTestStatus(const std::string& text) override;
    void TestRunningChanged(bool running) override;
    void PollingChanged(bool polling) override;
    void ShowStatus(const StatusTable& values) override;
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
    // Runs `operation(dialog)` on the window's thread without waiting for it; skipped once the
    // window is detached.
    template <typename Operation>
    void Post(Operation operation);

    std::shared_ptr<Shared> shared_;
    MainWindow* const dialog_;  // used only on the window's thread, and only while attached
    QThread* const windowThread_;
};

}  // namespace trevane
