#pragma once

#include <QObject>

#include "common/Platform.h"

class QSocketNotifier;

namespace trevane {

// SIGTERM, SIGHUP and Ctrl-C close the windows as their close buttons do, so a held jog sends
// its stop and a running test is stopped before the program ends; the signal itself would end
// the program with an axis moving.
class CloseOnTermination final : public QObject {
  public:
    explicit CloseOnTermination(QObject* parent = nullptr);

  private:
    TerminationSignalPipe pipe_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace trevane
