#include "support/ScriptedController.h"

#include <utility>

namespace trevane::testing {

class ScriptedController::Session final : public MotionClient {
  public:
    Session(std::shared_ptr<ScriptedController> owner, int number)
        : owner_(std::move(owner)), number_(number) {}

    std::string command(const std::string& line, const std::string&, const std::string&,
                        bool) override {
        return owner_->Answer(number_, line);
    }
    std::string connection() override { return owner_->connection(); }
    std::string programUpload() override { return owner_->programUpload(); }
    std::vector<char> record(const std::string& query) override {
        return owner_->Record(number_, query);
    }

  private:
    std::shared_ptr<ScriptedController> owner_;
    int number_;
};

ScriptedController::ScriptedController(Script script) : script_(std::move(script)) {}

SessionFactory ScriptedController::Factory() {
    std::shared_ptr<ScriptedController> self = shared_from_this();
    return [self](const std::string&) -> std::shared_ptr<MotionClient> {
        std::lock_guard lock(self->mutex_);
        return std::make_shared<Session>(self, self->sessionsOpened_++);
    };
}

std::string ScriptedController::command(const std::string& command, const std::string&,
                                        const std::string&, bool) {
    return Answer(0, command);
}

std::string ScriptedController::Answer(int session, const std::string& command) {
    int occurrence = 0;
    Hook hook;
    std::function<void()> everyHook;
    {
        std::lock_guard lock(mutex_);
        commands_.push_back({session, command});
        occurrence = occurrences_[command]++;
        hook = onExchange_;
        everyHook = onEveryExchange_;
    }
    if (hook) {
        hook(command);
    }
    if (everyHook) {
        everyHook();
    }
    if (script_) {
        if (std::optional<std::string> reply = script_(command, occurrence)) {
            return *reply;
        }
    }
    std::lock_guard lock(mutex_);
    if (failCommands_) {
        throw MotionError("rejected: " + command);
    }
    if (auto it = replies_.find(command); it != replies_.end()) {
        return it->second;
    }
    return DefaultReply(command);
}

std::string ScriptedController::connection() {
    std::lock_guard lock(mutex_);
    if (connectionFails_) {
        throw MotionError("connection description: link down");
    }
    return description_;
}

std::string ScriptedController::programUpload() {
    std::lock_guard lock(mutex_);
    ++uploads_;
    if (!program_) {
        throw MotionError("upload timed out");
    }
    return *program_;
}

std::vector<char> ScriptedController::record(const std::string& query) {
    return Record(0, query);
}

std::vector<char> ScriptedController::Record(int session, const std::string& query) {
    std::lock_guard lock(mutex_);
    records_.push_back({session, query});
    if (!record_) {
        throw MotionError("record timed out: " + query);
    }
    return *record_;
}

std::vector<std::string> ScriptedController::Commands() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    for (const Exchange& exchange : commands_) {
        lines.push_back(exchange.line);
    }
    return lines;
}

void ScriptedController::ClearExchanges() {
    std::lock_guard lock(mutex_);
    commands_.clear();
    records_.clear();
    occurrences_.clear();
    uploads_ = 0;
}

std::string ScriptedController::DefaultReply(const std::string& command) {
    static const std::map<std::string, std::string> fixed = {
        {"SP*=?", "10000,10000,10000,10000"},
        {"AC*=?", "300000,300000,300000,300000"},
        {"DC*=?", "2000000,2000000,2000000,2000000"},
        {"KP*=?", "6.00,6.00,6.00,6.00"},
        {"KI*=?", "0.50,0.50,0.50,0.50"},
        {"KD*=?", "64.00,64.00,64.00,64.00"},
        {"MG _CN", "-1.0000"},
    };
    if (auto it = fixed.find(command); it != fixed.end()) {
        return it->second;
    }
    if (command.starts_with("MG @OUT[")) {
        return "0.0000";
    }
    if (command.starts_with("MG _LF") || command.starts_with("MG _LR")) {
        return "1.0000";
    }
    const bool axisQuery = command.size() == 3;
    if (axisQuery && command.starts_with("TT")) {
        return "-0.4321";
    }
    if (axisQuery && command.starts_with("TE")) {
        return "-12";
    }
    if (command.starts_with("PA") && command.size() > 3 && command[3] == '=') {
        targets_[command[2]] = command.substr(4);
        return {};
    }
    if (axisQuery && command.starts_with("TP")) {
        auto it = targets_.find(command[2]);
        return it == targets_.end() ? "0" : it->second;
    }
    return {};
}

}  // namespace trevane::testing
