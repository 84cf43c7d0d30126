#include "history/StoreTest.h"

#include <atomic>
#include <exception>
#include <mutex>

namespace trevane::history {
namespace {

std::atomic<bool> g_enabled{true};
std::mutex g_lastMutex;
std::optional<StoreResult> g_last;

}  // namespace

StoreResult StoreTest(const TestRecord& record, const TestFiles& files, const std::string& path) {
    StoreResult result;
    result.testNumber = record.testNumber;
    try {
        History history(path);
        result.notice = history.Notice();
        const std::int64_t id = history.Add(record, files);
        if (const std::optional<StoredTest> stored = history.Test(id)) {
            result.comparison = Compare(history, *stored, true);
            result.flags = DriftFlagTexts(result.comparison->drift);
            result.noBaseline = AxesWithoutBaseline(*result.comparison);
        }
    } catch (const std::exception& e) {
        result.failure = e.what();
    }
    return result;
}

void SetHistoryEnabled(bool enabled) {
    g_enabled = enabled;
}

bool HistoryEnabled() {
    return g_enabled;
}

void SetLastStored(StoreResult result) {
    std::lock_guard lock(g_lastMutex);
    g_last = std::move(result);
}

std::optional<StoreResult> LastStored() {
    std::lock_guard lock(g_lastMutex);
    return g_last;
}

std::optional<std::string> LastHistoryFailureText() {
    const std::optional<StoreResult> last = LastStored();
    if (!last || !last->failure) {
        return std::nullopt;
    }
    return "history could not be written: " + *last->failure;
}

}  // namespace trevane::history
