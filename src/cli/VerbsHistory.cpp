// The test history of the working directory, or of the team's server, read without a controller.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "autotest/Outcomes.h"
#include "cli/HistoryServerOption.h"
#include "cli/Json.h"
#include "cli/VerdictJson.h"
#include "cli/VerbContext.h"
#include "cli/Verbs.h"
#include "common/CLocale.h"
#include "history/History.h"
#include "history/ServerAddress.h"
#include "history/ServerStore.h"
#include "history/Sync.h"
#include "history/Trends.h"
#include "protocol/Protocol.h"

namespace trevane::cli {
namespace {

constexpr int kDefaultLimit = 10;

struct Listed {
    history::StoredTest test;
    std::vector<history::Drift> drift;
};

std::string Controller(const history::StoredTest& test) {
    std::string text = test.address + ":" + FormatInt(test.port);
    return test.identity.empty() ? text : text + " " + test.identity;
}

std::string MoveJson(const history::StoredMove& move) {
    json::Object object;
    object.Text("axis", std::string(1, move.axis))
        .Number("target", static_cast<long long>(move.target))
        .Text("outcome", move.verdict)
        .Number("max_torque_v", move.maxTorque)
        .Number("max_error_counts", move.maxError);
    return object.Str();
}

struct AxisPeaks {
    double torque = -1;  // -1: the axis has no move in the test
    double error = -1;
};

AxisPeaks PeaksOf(const history::StoredTest& test, char axis) {
    AxisPeaks peaks;
    for (const history::StoredMove& move : test.moves) {
        if (move.axis == axis) {
            peaks.torque = std::max(peaks.torque, move.maxTorque);
            peaks.error = std::max(peaks.error, move.maxError);
        }
    }
    return peaks;
}

// Each axis's largest readings, as the verdict gives them.
std::string AxesJson(const history::StoredTest& test) {
    std::vector<std::string> axes;
    for (const char axis : {'X', 'Y', 'Z', 'W'}) {
        if (const AxisPeaks peaks = PeaksOf(test, axis); peaks.torque >= 0) {
            axes.push_back(json::AxisJson(axis, nullptr, peaks.torque, peaks.error));
        }
    }
    return json::Array(axes);
}

void PrintJson(std::ostream& out, const std::vector<Listed>& tests) {
    std::vector<std::string> listed;
    for (const Listed& entry : tests) {
        std::vector<std::string> moves;
        for (const history::StoredMove& move : entry.test.moves) {
            moves.push_back(MoveJson(move));
        }
        json::Object test;
        test.Number("id", static_cast<long long>(entry.test.id))
            .Text("started", entry.test.startedUtc)
            .Text("controller", json::OneLine(Controller(entry.test)))
            .Text("outcome", outcome::TestOutcomeWord(entry.test.outcome))
            .Raw("moves", json::Array(moves))
            .Raw("axes", AxesJson(entry.test))
            .Raw("drift", json::DriftJson(entry.drift));
        listed.push_back(test.Str());
    }
    json::Object all;
    all.Raw("tests", json::Array(listed));
    json::WriteLine(out, all);
}

void TableRows(const std::vector<Listed>& tests, std::ostream& out);

std::string AxisMaxima(const history::StoredTest& test, char axis) {
    const AxisPeaks peaks = PeaksOf(test, axis);
    char cell[40];
    if (peaks.torque < 0) {
        std::snprintf(cell, sizeof cell, "  %6s %5s", "-", "-");
    } else {
        std::snprintf(cell, sizeof cell, "  %6.3f %5.0f", peaks.torque, peaks.error);
    }
    // snprintf follows the process locale; the table's numbers never do.
    std::string text = cell;
    std::replace(text.begin(), text.end(), ',', '.');
    return text;
}

// The identity line came from a controller: the table reaches a terminal escaped.
void PrintTable(VerbContext& context, const std::vector<Listed>& tests,
                const std::string& where) {
    std::ostringstream table;
    if (tests.empty()) {
        table << "no tests in " << where << "\n";
    } else {
        TableRows(tests, table);
    }
    context.out << context.ForOut(table.str());
}

void TableRows(const std::vector<Listed>& tests, std::ostream& out) {
    out << "   id  started               outcome          X V / err     Y V / err     "
           "Z V / err  controller, drift\n";
    for (const Listed& listed : tests) {
        char head[80];
        std::snprintf(head, sizeof head, "%5lld  %-20s  %-14s",
                      static_cast<long long>(listed.test.id), listed.test.startedUtc.c_str(),
                      outcome::TestOutcomeWord(listed.test.outcome));
        out << head << AxisMaxima(listed.test, 'X') << AxisMaxima(listed.test, 'Y')
            << AxisMaxima(listed.test, 'Z') << "  " << json::OneLine(Controller(listed.test));
        for (const std::string& flag : history::DriftFlagTexts(listed.drift)) {
            out << "; " << flag;
        }
        out << "\n";
    }
}

struct HistoryArguments {
    history::TestQuery query{kDefaultLimit, {}, {}};
    std::optional<std::string> server;
    bool sync = false;
};

constexpr const char* kHistoryUsage =
    "usage: history [--limit N] [--controller TEXT] [--since DATE] [--history URL] | history "
    "sync [--history URL]";

// An error text, or nothing when the arguments are sound.
std::optional<std::string> ParseHistoryArguments(const std::vector<std::string>& args,
                                                 HistoryArguments& parsed) {
    std::size_t i = 0;
    if (!args.empty() && args[0] == "sync") {
        parsed.sync = true;
        i = 1;
    }
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool listing = !parsed.sync;
        if (arg == "--history" && i + 1 < args.size()) {
            parsed.server = args[++i];
        } else if (listing && arg == "--limit" && i + 1 < args.size()) {
            const std::string& value = args[++i];
            int& limit = parsed.query.limit;
            const auto [end, ec] =
                std::from_chars(value.data(), value.data() + value.size(), limit);
            if (ec != std::errc{} || end != value.data() + value.size() || limit < 1) {
                return "--limit '" + protocol::Printable(value) +
                       "' is not a number of tests (1 or more)";
            }
        } else if (listing && arg == "--controller" && i + 1 < args.size()) {
            parsed.query.controller = args[++i];
        } else if (listing && arg == "--since" && i + 1 < args.size()) {
            parsed.query.since = args[++i];
            if (const std::string wrong = history::CheckSinceDate(parsed.query.since);
                !wrong.empty()) {
                return "--since '" + protocol::Printable(parsed.query.since) + "' " + wrong;
            }
        } else {
            return "unknown argument '" + protocol::Printable(arg) + "' (" + kHistoryUsage + ")";
        }
    }
    return std::nullopt;
}

void ListTests(VerbContext& context, history::HistoryStore& store,
               const history::TestQuery& query, bool json, const std::string& where) {
    std::vector<Listed> listed;
    for (history::StoredTest& test : store.LastTests(query)) {
        std::vector<history::Drift> drift = history::Compare(store, test, false).drift;
        listed.push_back({std::move(test), std::move(drift)});
    }
    json ? PrintJson(context.out, listed) : PrintTable(context, listed, where);
}

// Sends what the local file holds and the server has not taken yet.
int SyncHistory(VerbContext& context, const std::string& server, bool json) {
    const history::ServerAddress address = history::ParseServerAddress(server);
    std::error_code noFile;
    std::optional<history::History> local;
    if (std::filesystem::is_regular_file(history::kHistoryFileName, noFile)) {
        local.emplace(history::kHistoryFileName);
    }
    history::SyncResult sync;
    try {
        // Connected even when nothing waits: a sync is also how a technician tries the setting.
        const std::unique_ptr<history::HistoryStore> store = history::OpenServerStore(address);
        if (local) {
            sync = history::SendWaiting(*local, *store);
        }
    } catch (const history::HistoryError& e) {
        const int waiting = local ? static_cast<int>(local->Waiting().size()) : 0;
        ReportError(context, "history sync: " + std::string(e.what()) +
                    (waiting > 0 ? "; " + history::KeptLocallyText(waiting) : std::string()));
        return kExitFailed;
    }
    if (json) {
        json::WriteLine(context.out, json::Object()
                                       .Text("server", address.shown)
                                       .Number("sent", static_cast<long long>(sync.sent))
                                       .Number("waiting", static_cast<long long>(sync.waiting)));
    } else {
        context.out << "history sync: " << sync.sent << (sync.sent == 1 ? " test" : " tests")
                  << " sent to " << address.shown << ", nothing waits\n";
    }
    return kExitOk;
}

}  // namespace

int RunHistory(VerbContext& context, const Invocation& invocation) {
    HistoryArguments args;
    if (const std::optional<std::string> error = ParseHistoryArguments(invocation.args, args)) {
        return UsageError(context, "history: " + *error);
    }
    const HistoryServerChoice server = ChooseHistoryServer(args.server, context.historyVariable);
    if (server.error) {
        return UsageError(context, "history: " + *server.error);
    }
    if (args.sync && !server.server) {
        return UsageError(context, "history sync: no server named (--history URL or TREVANE_HISTORY)");
    }
    try {
        if (args.sync) {
            return SyncHistory(context, *server.server, invocation.json);
        }
        if (server.server) {
            const history::ServerAddress address = history::ParseServerAddress(*server.server);
            ListTests(context, *history::OpenServerStore(address), args.query, invocation.json,
                      address.shown);
        } else {
            history::History store(history::kHistoryFileName, history::History::Access::Read);
            ListTests(context, store, args.query, invocation.json, history::kHistoryFileName);
        }
    } catch (const std::exception& e) {
        ReportError(context, std::string(args.sync ? "history sync: " : "history: ") + e.what());
        return kExitFailed;
    }
    return context.out.flush() ? kExitOk : kExitFailed;
}

}  // namespace trevane::cli
