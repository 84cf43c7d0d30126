#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "protocol/MotionClient.h"

namespace trevane::testing {

// An in-process controller whose replies are scripted, for the cases the simulated controller
// cannot make on demand: exact readings and record bytes, a failing exchange, upload or
// identity. Used as a session itself, or through Factory(), whose sessions share its script and
// its account of exchanges and are numbered in the order they were opened (Connect opens the
// command session first); it is held by a shared_ptr then. Unscripted commands get a fixed,
// plausible reply of the automatic test.
class ScriptedController final : public MotionClient,
                                 public std::enable_shared_from_this<ScriptedController> {
    template <typename Action>
    auto Locked(Action action) const {
        std::lock_guard lock(mutex_);
        return action();
    }

  public:
    // Returns the reply to the `occurrence`-th sending (from 0) of `command`, or nullopt for the
    // default reply. Throw to make the exchange fail.
    using Script =
        std::function<std::optional<std::string>(const std::string& command, int occurrence)>;
    using Hook = std::function<void(const std::string& command)>;
    struct Exchange {
        int session;
        std::string line;
    };

    static constexpr const char* kDescription = "127.0.0.1:23 Scripted controller rev 1.0";

    explicit ScriptedController(Script script = {});

    SessionFactory Factory();

    std::string command(const std::string& command, const std::string& terminator = "\r",
                        const std::string& acknowledgement = ":", bool trim = true) override;
    std::string connection() override;
    std::string programUpload() override;
    std::vector<char> record(const std::string& query) override;

    // How it answers.
    void SetReply(const std::string& command, std::string reply) {
        Locked([&] { replies_[command] = std::move(reply); });
    }
    void FailCommands(bool fail) {
        Locked([&] { failCommands_ = fail; });
    }
    void FailConnection() {
        Locked([&] { connectionFails_ = true; });
    }
    void SetDescription(std::string description) {
        Locked([&] { description_ = std::move(description); });
    }
    void SetRecord(std::vector<char> bytes) {
        Locked([&] { record_ = std::move(bytes); });
    }
    void FailRecord() {
        Locked([&] { record_.reset(); });
    }
    void SetProgram(std::string text) {
        Locked([&] { program_ = std::move(text); });
    }
    void FailUpload() {
        Locked([&] { program_.reset(); });
    }
    // Runs inside each exchange, after the command was recorded and before the reply: first the
    // test's hook, then the harness's (where it may hold the calling thread).
    void OnExchange(Hook hook) {
        Locked([&] { onExchange_ = std::move(hook); });
    }
    void OnEveryExchange(std::function<void()> hook) {
        Locked([&] { onEveryExchange_ = std::move(hook); });
    }

    // What it was asked. Clearing also restarts the occurrences the script sees.
    std::vector<std::string> Commands() const;
    std::size_t CommandCount() const {
        return Locked([&] { return commands_.size(); });
    }
    std::vector<Exchange> RecordRequests() const {
        return Locked([&] { return records_; });
    }
    int Uploads() const {
        return Locked([&] { return uploads_; });
    }
    void ClearExchanges();

  private:
    class Session;

    std::string Answer(int session, const std::string& command);
    std::vector<char> Record(int session, const std::string& query);
    std::string DefaultReply(const std::string& command);

    mutable std::mutex mutex_;
    Script script_;
    Hook onExchange_;
    std::function<void()> onEveryExchange_;
    int sessionsOpened_ = 0;
    std::vector<Exchange> commands_;
    std::vector<Exchange> records_;
    std::map<std::string, int> occurrences_;
    std::map<std::string, std::string> replies_;
    std::map<char, std::string> targets_;
    bool failCommands_ = false;
    bool connectionFails_ = false;
    std::string description_ = kDescription;
    std::optional<std::vector<char>> record_ = std::vector<char>();
    std::optional<std::string> program_ = std::string();
    int uploads_ = 0;
};

}  // namespace trevane::testing
