#include "app/TerminationClose.h"

#include <QApplication>
#include <QSocketNotifier>

namespace trevane {

CloseOnTermination::CloseOnTermination(QObject* parent) : QObject(parent) {
    if (pipe_.ReadEnd() < 0) {
        return;
    }
    notifier_ = new QSocketNotifier(pipe_.ReadEnd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        if (pipe_.Take() > 0) {
            QApplication::closeAllWindows();
        }
    });
}

}  // namespace trevane
