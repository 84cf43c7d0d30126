#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "autotest/TestRecord.h"
#include "history/History.h"
#include "history/Trends.h"

// The test runner's side of the history: every ended test that reached the controller goes in,
// and what became of it stays readable for the front ends (the CLI's exit code, the window's
// strip). A failure here never touches the test or its log.
namespace trevane::history {

struct StoreResult {
    int testNumber = 0;
    std::optional<std::int64_t> id;  // the test's row in the local history
    std::string uuid;                // the test's id wherever it is kept
    std::optional<std::string> failure;  // why the test could not be stored
    std::optional<std::string> notice;   // an old file renamed aside
    std::optional<Comparison> comparison;
    std::vector<std::string> flags;  // DriftFlagTexts of the comparison
    std::vector<char> noBaseline;    // AxesWithoutBaseline of the comparison
    // With a server: why it did not take the test, and how many tests wait for it now.
    std::optional<std::string> serverFailure;
    int waiting = 0;
};

// Stores the test in the history at `path`, then sends what waits to `server` if there is one,
// and compares the test with earlier ones: the team's on the server, else the file's. The file
// names are kept relative to the history's folder.
StoreResult StoreTest(const TestRecord& record, const TestFiles& files, const std::string& path,
                      const std::optional<std::string>& server = std::nullopt);

// One controller's history settings, and what became of its last test.
class TestHistory {
  public:
    // Where tests are kept: kHistoryFileName in the working directory unless another file was
    // set (the controllers of a fleet share one).
    void SetPath(std::string path);
    std::string Path() const;
    // The team's server (a URL or service name), when tests go there too; none by default.
    void SetServer(std::optional<std::string> server);
    std::optional<std::string> Server() const;
    // On by default; tests of other parts may turn it off.
    void SetEnabled(bool enabled) { enabled_ = enabled; }
    bool Enabled() const { return enabled_.load(); }

    StoreResult Store(const TestRecord& record, const TestFiles& files) const {
        return StoreTest(record, files, Path(), Server());
    }

    // Kept by the test's end for the front ends.
    void SetLast(StoreResult result);
    std::optional<StoreResult> Last() const;
    // "history could not be written: REASON" of the last test, if it could not.
    std::optional<std::string> LastFailureText() const;
    // KeptLocallyText of the last test, if the server did not take it.
    std::optional<std::string> LastKeptLocallyText() const;

  private:
    std::atomic<bool> enabled_{true};
    mutable std::mutex mutex_;
    std::string path_ = kHistoryFileName;
    std::optional<std::string> server_;
    std::optional<StoreResult> last_;
};

}  // namespace trevane::history
