#include "history/StoreTest.h"

#include <atomic>
#include <exception>
#include <filesystem>
#include <mutex>

#include "history/ServerStore.h"
#include "history/Sync.h"

namespace trevane::history {
namespace {

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

void TestHistory::SetPath(std::string path) {
    std::lock_guard lock(mutex_);
    path_ = path.empty() ? std::string(kHistoryFileName) : std::move(path);
}

std::string TestHistory::Path() const {
    std::lock_guard lock(mutex_);
    return path_;
}

void TestHistory::SetServer(std::optional<std::string> server) {
    std::lock_guard lock(mutex_);
    server_ = std::move(server);
}

std::optional<std::string> TestHistory::Server() const {
    std::lock_guard lock(mutex_);
    return server_;
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

StoreResult StoreTest(const TestRecord& record, const TestFiles& files, const std::string& path,
                      const std::optional<std::string>& server) {
    StoreResult result;
    result.testNumber = record.testNumber;
    try {
        History history(path);
        result.notice = history.Notice();
        const TestFiles seen{SeenFrom(path, files.log), SeenFrom(path, files.report),
                             SeenFrom(path, files.samples)};
        const TestRow row = RowOfRecord(record, seen);
        const std::int64_t localId = history.Put(row);
        result.id = localId;
        result.uuid = row.uuid;
        if (const std::optional<std::string>& address = server) {
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

void TestHistory::SetLast(StoreResult result) {
    std::lock_guard lock(mutex_);
    last_ = std::move(result);
}

std::optional<StoreResult> TestHistory::Last() const {
    std::lock_guard lock(mutex_);
    return last_;
}

std::optional<std::string> TestHistory::LastFailureText() const {
    const std::optional<StoreResult> last = Last();
    if (!last || !last->failure) {
        return std::nullopt;
    }
    return "history could not be written: " + *last->failure;
}

std::optional<std::string> TestHistory::LastKeptLocallyText() const {
    const std::optional<StoreResult> last = Last();
    if (!last || last->failure || !last->serverFailure || last->waiting == 0) {
        return std::nullopt;
    }
    return KeptLocallyText(last->waiting);
}

}  // namespace trevane::history
