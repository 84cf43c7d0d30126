#include "support/ProgramState.h"

#include "autotest/TestRunner.h"
#include "common/Clock.h"
#include "console/StatusMonitor.h"
#include "history/StoreTest.h"
#include "link/Link.h"
#include "report/TestReport.h"

namespace trevane::testing {

void ResetProgramState() {
    ResetAutotestState();
    ResetReportState();
    history::ResetHistoryState();
    ResetConsoleState();
    ResetLinkState();
    SetSystemClock(nullptr);
}

}  // namespace trevane::testing
