#include "app/WindowOperator.h"

#include <optional>
#include <utility>

#include <QMetaObject>
#include <QThread>

#include "app/ControlIds.h"
#include "app/MainWindow.h"
#include "app/TextBridge.h"
#include "common/StopControl.h"
#include "common/StopWait.h"

namespace trevane {
namespace {

struct Done {};  // the result of an operation that returns nothing

}  // namespace

WindowOperator::WindowOperator(MainWindow& dialog)
    : shared_(std::make_shared<Shared>()), dialog_(&dialog), windowThread_(dialog.thread()) {}

void WindowOperator::Detach() {
    std::lock_guard lock(shared_->mutex);
    shared_->attached = false;
    shared_->wake.notify_all();
}

template <typename Result, typename Operation>
Result WindowOperator::Run(Result fallback, Operation operation) {
    if (QThread::currentThread() == windowThread_) {
        return shared_->attached ? operation(*dialog_) : fallback;
    }

    struct Call {
        explicit Call(Result initial) : result(std::move(initial)) {}
        Result result;
        bool done = false;
        bool abandoned = false;
    };
    auto call = std::make_shared<Call>(fallback);
    const std::shared_ptr<Shared> shared = shared_;
    const std::stop_token stop = CurrentStopToken();

    std::unique_lock lock(shared->mutex);
    // Posting under the lock while attached: the dialog cannot be destroyed before Detach, and
    // Detach takes this lock, so the dialog is alive while the call is posted to it.
    if (!shared->attached || stop.stop_requested()) {
        return fallback;
    }
    MainWindow* const dialog = dialog_;
    QMetaObject::invokeMethod(
        dialog,
        [call, shared, dialog, operation = std::move(operation)]() mutable {
            {
                std::lock_guard guard(shared->mutex);
                if (call->abandoned || !shared->attached) {
                    return;
                }
            }
            std::optional<Result> result;
            try {
                result.emplace(operation(*dialog));
            } catch (...) {
                // Nothing may unwind into the event loop; the caller gets its fallback.
            }
            std::lock_guard guard(shared->mutex);
            if (result) {
                call->result = std::move(*result);
            }
            call->done = true;
            shared->wake.notify_all();
        },
        Qt::QueuedConnection);

    WaitOrStopped(shared->wake, lock, stop, [&] { return call->done || !shared->attached; });
    if (call->done) {
        return std::move(call->result);
    }
    call->abandoned = true;
    return fallback;
}

template <typename Operation>
void WindowOperator::Post(Operation operation) {
    if (QThread::currentThread() == windowThread_) {
        if (shared_->attached) {
            operation(*dialog_);
        }
        return;
    }
    const std::shared_ptr<Shared> shared = shared_;
    // Posted under the lock while attached, as in Run: the dialog is alive while it is posted,
    // and Qt drops the call if the dialog goes before it comes up.
    std::lock_guard lock(shared->mutex);
    if (!shared->attached) {
        return;
    }
    MainWindow* const dialog = dialog_;
    QMetaObject::invokeMethod(
        dialog,
        [shared, dialog, operation = std::move(operation)]() mutable {
            if (!shared->attached) {
                return;
            }
            try {
                operation(*dialog);
            } catch (...) {
                // Nothing may unwind into the event loop.
            }
        },
        Qt::QueuedConnection);
}

std::string WindowOperator::Address() {
    return Run(std::string(),
               [](MainWindow& dialog) { return ToWire(dialog.AddressText()).substr(0, 254); });
}

void WindowOperator::AppendTranscript(const std::string& text) {
    Run(Done{}, [text](MainWindow& dialog) {
        dialog.AppendTranscript(FromWire(text));
        return Done{};
    });
}

void WindowOperator::ScrollTranscriptToEnd() {
    Run(Done{}, [](MainWindow& dialog) {
        dialog.ScrollTranscriptToEnd();
        return Done{};
    });
}

std::string WindowOperator::CommandText() {
    return Run(std::string(), [](MainWindow& dialog) { return ToWire(dialog.CommandText()); });
}

void WindowOperator::SetCommandText(const std::string& text) {
    Run(Done{}, [text](MainWindow& dialog) {
        dialog.SetCommandText(FromWire(text));
        return Done{};
    });
}

void WindowOperator::SessionChanged(const SessionStatus& command, const SessionStatus& record) {
    Post([command, record](MainWindow& dialog) { dialog.ShowSessions(command, record); });
}

void WindowOperator::JogRefused(const std::string& reason) {
    Run(Done{}, [reason](MainWindow& dialog) {
        dialog.Strip()->SetJogNotice(FromWire(reason));
        return Done{};
    });
}

void WindowOperator::SetTestStatus(const std::string& text) {
    Run(Done{}, [text](MainWindow& dialog) {
        dialog.SetTestStatus(FromWire(text));
        return Done{};
    });
}

void WindowOperator::TestRunningChanged(bool running) {
    Run(Done{}, [running](MainWindow& dialog) {
        dialog.ShowTestRunning(running);
        return Done{};
    });
}

void WindowOperator::PollingChanged(bool polling) {
    Run(Done{}, [polling](MainWindow& dialog) {
        if (polling) {
            dialog.StartTimer(kStatusTimer, kTimerPeriodMs);
        } else {
            dialog.StopTimer(kStatusTimer);
        }
        return Done{};
    });
}

void WindowOperator::ShowStatus(const StatusTable& values) {
    Run(Done{}, [values](MainWindow& dialog) {
        for (std::size_t axis = 0; axis < values.size(); ++axis) {
            for (std::size_t row = 0; row < values[axis].size(); ++row) {
                dialog.SetStatusCell(static_cast<int>(row), static_cast<int>(axis) + 1,
                                     FromWire(values[axis][row]));
            }
        }
        return Done{};
    });
}

bool WindowOperator::AxisChosen(int axis) {
    return Run(false, [axis](MainWindow& dialog) { return dialog.IsAxisChecked(axis); });
}

int WindowOperator::JogSpeed() {
    return Run(0, [](MainWindow& dialog) { return dialog.SpeedPosition(); });
}

void WindowOperator::ShowMessage(const std::string& text, const std::string& caption,
                              bool ownedByWindow) {
    Run(Done{}, [text, caption, ownedByWindow](MainWindow& dialog) {
        dialog.ShowMessage(FromWire(text), FromWire(caption), ownedByWindow);
        return Done{};
    });
}

void WindowOperator::OpenFolder(const std::string& path) {
    Run(Done{}, [path](MainWindow& dialog) {
        dialog.OpenFolder(QString::fromStdString(path));  // a path is UTF-8, not wire text
        return Done{};
    });
}

}  // namespace trevane
