#include "history/StoreTest.h"

#include <atomic>
#include <exception>
#include <filesystem>
#include <mutex>

#include "history/ServerStore.h"
#include "history/Sync.h"

namespace trevane::history {
namespace {

std::atomic<bool> g_enabled{true};
std::mutex g_lastMutex;
std::optional<StoreResult> g_last;
std::mutex g_pathMutex;
std::string g_path = kHistoryFileName;
std::optional<std::string> g_server;

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

void SetHistoryServer(std::optional<std::string> server) {
    std::lock_guard lock(g_pathMutex);
    g_server = std::move(server);
}

std::optional<std::string> HistoryServer() {
    std::lock_guard lock(g_pathMutex);
    return g_server;
}

namespace {

// Sends what waits; the store to compare with and the test's id there, or why not.
std::unique_ptr<HistoryStore> SendToServer(const std::string& server, History& local,
                                           const std::string& uuid, std::int64_t& id,
                                           StoreResult& result) {
    try {
        std::unique_ptr<HistoryStore> store = OpenServerStore(ParseServerAddress(server));
        result.waiting = SendWaiting(local, *store).waiting;
        if (const std::optional<std::int64_t> there = store->IdOf(uuid)) {
            id = *there;
            return store;
        }
    } catch (const std::exception& e) {
        result.serverFailure = e.what();
    }
    result.waiting = static_cast<int>(local.Waiting().size());
    return nullptr;
}

void CompareWithEarlier(HistoryStore& store, std::int64_t id, StoreResult& result) {
    if (const std::optional<StoredTest> stored = store.Test(id)) {
        Comparison comparison = Compare(store, *stored, true);
        result.flags = DriftFlagTexts(comparison.drift);
        result.noBaseline = AxesWithoutBaseline(comparison);
        result.comparison = std::move(comparison);
    }
}

}  // namespace

StoreResult StoreTest(const TestRecord& record, const TestFiles& files, const std::string& path) {
    StoreResult result;
    result.testNumber = record.testNumber;
    try {
        History history(path);
        result.notice = history.Notice();
        const TestFiles seen{SeenFrom(path, files.log), SeenFrom(path, files.report),
                             SeenFrom(path, files.samples)};
        const TestRow row = RowOfRecord(record, seen);
        const std::int64_t localId = history.Put(row);
        if (const std::optional<std::string> address = HistoryServer()) {
            std::int64_t serverId = 0;
            if (std::unique_ptr<HistoryStore> server =
                    SendToServer(*address, history, row.uuid, serverId, result)) {
                try {
                    CompareWithEarlier(*server, serverId, result);
                } catch (const std::exception& e) {
                    // Gone after taking the test: the file's tests are the comparison then.
                    result.serverFailure = e.what();
                    result.waiting = static_cast<int>(history.Waiting().size());
                }
            }
        }
        if (!result.comparison) {
            CompareWithEarlier(history, localId, result);
        }
    } catch (const std::exception& e) {
        result.failure = e.what();
    }
    return result;
}

void ResetHistoryState() {
    SetHistoryEnabled(true);
    SetHistoryPath({});
    SetHistoryServer(std::nullopt);
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

namespace trevane::history {

std::optional<std::string> LastKeptLocallyText() {
    const std::optional<StoreResult> last = LastStored();
    if (!last || last->failure || !last->serverFailure || last->waiting == 0) {
        return std::nullopt;
    }
    return KeptLocallyText(last->waiting);
}

}  // namespace trevane::history
