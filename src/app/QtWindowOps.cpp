#include "app/QtWindowOps.h"

#include <optional>
#include <utility>

#include <QMetaObject>
#include <QThread>

#include "app/MainWindow.h"
#include "app/TextBridge.h"
#include "common/StopControl.h"
#include "common/StopWait.h"

namespace trevane {
namespace {

struct Done {};  // the result of an operation that returns nothing

}  // namespace

QtWindowOps::QtWindowOps(MainWindow& dialog)
    : shared_(std::make_shared<Shared>()), dialog_(&dialog), windowThread_(dialog.thread()) {}

void QtWindowOps::Detach() {
    std::lock_guard lock(shared_->mutex);
    shared_->attached = false;
    shared_->wake.notify_all();
}

template <typename Result, typename Operation>
Result QtWindowOps::Run(Result fallback, Operation operation) {
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

std::string QtWindowOps::ReadAddress() {
    return Run(std::string(),
               [](MainWindow& dialog) { return ToWire(dialog.AddressText()).substr(0, 254); });
}

void QtWindowOps::AppendTranscript(const std::string& text) {
    Run(Done{}, [text](MainWindow& dialog) {
        dialog.AppendTranscript(FromWire(text));
        return Done{};
    });
}

void QtWindowOps::ScrollTranscriptToEnd() {
    Run(Done{}, [](MainWindow& dialog) {
        dialog.ScrollTranscriptToEnd();
        return Done{};
    });
}

std::string QtWindowOps::CommandText() {
    return Run(std::string(), [](MainWindow& dialog) { return ToWire(dialog.CommandText()); });
}

void QtWindowOps::SetCommandText(const std::string& text) {
    Run(Done{}, [text](MainWindow& dialog) {
        dialog.SetCommandText(FromWire(text));
        return Done{};
    });
}

void QtWindowOps::SetTestStatus(const std::string& text) {
    Run(Done{}, [text](MainWindow& dialog) {
        dialog.SetTestStatus(FromWire(text));
        return Done{};
    });
}

void QtWindowOps::SetRunTestCaption(const std::string& caption) {
    Run(Done{}, [caption](MainWindow& dialog) {
        dialog.SetRunTestCaption(FromWire(caption));
        return Done{};
    });
}

void QtWindowOps::SetProgress(int position) {
    Run(Done{}, [position](MainWindow& dialog) {
        dialog.SetProgress(position);
        return Done{};
    });
}

void QtWindowOps::SetStatusCell(int row, int column, const std::string& text) {
    Run(Done{}, [row, column, text](MainWindow& dialog) {
        dialog.SetStatusCell(row, column, FromWire(text));
        return Done{};
    });
}

bool QtWindowOps::IsAxisChecked(int axis) {
    return Run(false, [axis](MainWindow& dialog) { return dialog.IsAxisChecked(axis); });
}

int QtWindowOps::SpeedPosition() {
    return Run(0, [](MainWindow& dialog) { return dialog.SpeedPosition(); });
}

void QtWindowOps::StartTimer(int id, int periodMs) {
    Run(Done{}, [id, periodMs](MainWindow& dialog) {
        dialog.StartTimer(id, periodMs);
        return Done{};
    });
}

void QtWindowOps::StopTimer(int id) {
    Run(Done{}, [id](MainWindow& dialog) {
        dialog.StopTimer(id);
        return Done{};
    });
}

void QtWindowOps::ShowMessage(const std::string& text, const std::string& caption,
                              bool ownedByWindow) {
    Run(Done{}, [text, caption, ownedByWindow](MainWindow& dialog) {
        dialog.ShowMessage(FromWire(text), FromWire(caption), ownedByWindow);
        return Done{};
    });
}

void QtWindowOps::OpenFolder(const std::string& path) {
    Run(Done{}, [path](MainWindow& dialog) {
        dialog.OpenFolder(QString::fromStdString(path));  // a path is UTF-8, not wire text
        return Done{};
    });
}

}  // namespace trevane
