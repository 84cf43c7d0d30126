#include "history/StoreTest.h"

#include <atomic>
#include <exception>
#include <filesystem>
#include <mutex>

namespace trevane::history {
namespace {

std::atomic<bool> g_enabled{true};
std::mutex g_lastMutex;
std::optional<StoreResult> g_last;
std::mutex g_pathMutex;
std::string g_path = kHistoryFileName;

// `file` (relative to the working directory) as seen from the folder of `historyPath`.
std::string SeenFrom(const std::string& historyPath, const std::string& file) {
    namespace fs = std::filesystem;
    const fs::path history(historyPath);
    if (file.empty() || !history.has_parent_path()) {
        return file;
    }
    std::error_code error;
    const fs::path relative =
        fs::absolute(file, error).lexically_relative(fs::absolute(history, error).parent_path());
    return error || relative.empty() ? file : relative.generic_string();
}

}  // namespace

void SetHistoryPath(std::string path) {
    std::lock_guard lock(g_pathMutex);
    g_path = path.empty() ? std::string(kHistoryFileName) : std::move(path);
}

std::string HistoryPath() {
    std::lock_guard lock(g_pathMutex);
    return g_path;
}

StoreResult StoreTest(const TestRecord& record, const TestFiles& files, const std::string& path) {
    StoreResult result;
    result.testNumber = record.testNumber;
    try {
        History history(path);
        result.notice = history.Notice();
        const TestFiles seen{SeenFrom(path, files.log), SeenFrom(path, files.report),
                             SeenFrom(path, files.samples)};
        const std::int64_t id = history.Add(record, seen);
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

void ResetHistoryState() {
    SetHistoryEnabled(true);
    SetHistoryPath({});
    std::lock_guard lock(g_lastMutex);
    g_last.reset();
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
