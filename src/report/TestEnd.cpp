#include "report/TestEnd.h"

#include <optional>
#include <string>
#include <utility>

#include "autotest/TestEnd.h"
#include "history/StoreTest.h"
#include "link/WindowOps.h"
#include "report/TestReport.h"
#include "report/TestVerdict.h"

namespace trevane {
namespace {

// The line closes the transcript and starts nothing.
void WriteVerdict(const TestRecord& record, std::uint64_t ticket) {
    TestVerdict verdict = VerdictOfTest(record, LastTestReport());
    if (const std::optional<history::StoreResult> stored = history::LastStored();
        stored && stored->testNumber == record.testNumber) {
        for (const std::string& flag : stored->flags) {
            verdict.notes.push_back(flag + ".");
        }
        if (const std::string none = history::NoBaselineText(stored->noBaseline); !none.empty()) {
            verdict.notes.push_back(none + ".");
        }
        if (const std::optional<std::string> kept = history::LastKeptLocallyText()) {
            verdict.notes.push_back(*kept + ".");
        }
    }
    const std::string line = VerdictLine(verdict);
    if (!SetLastTestVerdict(ticket, std::move(verdict))) {
        return;
    }
    auto window = Window();
    window->AppendTranscript(line + "\r\n");
    window->ScrollTranscriptToEnd();
}

}  // namespace

void InstallTestEndHooks() {
    SetTestEndHooks({ClearLastTestVerdict, OnTestEnded, WriteVerdict});
}

}  // namespace trevane
