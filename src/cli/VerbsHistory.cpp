// The test history of the working directory, read without a controller.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Json.h"
#include "cli/Verbs.h"
#include "common/CLocale.h"
#include "history/History.h"
#include "history/Trends.h"

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
        .Text("verdict", move.verdict)
        .Number("max_torque", move.maxTorque)
        .Number("max_error", move.maxError);
    return object.Str();
}

std::string DriftJson(const history::Drift& drift) {
    json::Object object;
    object.Text("axis", std::string(1, drift.axis))
        .Number("target", static_cast<long long>(drift.target))
        .Text("quantity", drift.quantity)
        .Number("value", drift.value)
        .Number("baseline", drift.baseline)
        .Number("change", drift.change);
    return object.Str();
}

void PrintJson(const std::vector<Listed>& tests) {
    std::vector<std::string> listed;
    for (const Listed& entry : tests) {
        std::vector<std::string> moves;
        for (const history::StoredMove& move : entry.test.moves) {
            moves.push_back(MoveJson(move));
        }
        std::vector<std::string> drift;
        for (const history::Drift& found : entry.drift) {
            drift.push_back(DriftJson(found));
        }
        json::Object test;
        test.Number("id", static_cast<long long>(entry.test.id))
            .Text("started", entry.test.startedUtc)
            .Text("controller", Controller(entry.test))
            .Text("outcome", entry.test.outcome)
            .Raw("moves", json::Array(moves))
            .Raw("drift", json::Array(drift));
        listed.push_back(test.Str());
    }
    json::Object all;
    all.Raw("tests", json::Array(listed));
    json::WriteLine(std::cout, all);
}

std::string AxisMaxima(const history::StoredTest& test, char axis) {
    double torque = -1;
    double error = -1;
    for (const history::StoredMove& move : test.moves) {
        if (move.axis == axis) {
            torque = std::max(torque, move.maxTorque);
            error = std::max(error, move.maxError);
        }
    }
    char cell[40];
    if (torque < 0) {
        std::snprintf(cell, sizeof cell, "  %6s %5s", "-", "-");
    } else {
        std::snprintf(cell, sizeof cell, "  %6.3f %5.0f", torque, error);
    }
    // snprintf follows the process locale; the table's numbers never do.
    std::string text = cell;
    std::replace(text.begin(), text.end(), ',', '.');
    return text;
}

void PrintTable(const std::vector<Listed>& tests) {
    if (tests.empty()) {
        std::cout << "no tests in " << history::kHistoryFileName << "\n";
        return;
    }
    std::cout << "   id  started               outcome          X V / err     Y V / err     "
                 "Z V / err  controller, drift\n";
    for (const Listed& listed : tests) {
        char head[80];
        std::snprintf(head, sizeof head, "%5lld  %-20s  %-14s",
                      static_cast<long long>(listed.test.id), listed.test.startedUtc.c_str(),
                      listed.test.outcome.c_str());
        std::cout << head << AxisMaxima(listed.test, 'X') << AxisMaxima(listed.test, 'Y')
                  << AxisMaxima(listed.test, 'Z') << "  " << Controller(listed.test);
        for (const std::string& flag : history::DriftFlagTexts(listed.drift)) {
            std::cout << "; " << flag;
        }
        std::cout << "\n";
    }
}

int RunHistory(const Invocation& invocation) {
    bool json = false;
    int limit = kDefaultLimit;
    const std::vector<std::string>& args = invocation.args;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "--limit" && i + 1 < args.size()) {
            const std::string& value = args[++i];
            const auto [end, ec] =
                std::from_chars(value.data(), value.data() + value.size(), limit);
            if (ec != std::errc{} || end != value.data() + value.size() || limit < 1) {
                return UsageError("history: --limit '" + value +
                                  "' is not a number of tests (1 or more)");
            }
        } else {
            return UsageError("history: unknown argument '" + args[i] +
                              "' (usage: history [--json] [--limit N])");
        }
    }
    try {
        history::History store(history::kHistoryFileName, history::History::Access::Read);
        std::vector<Listed> listed;
        for (history::StoredTest& test : store.LastTests(limit)) {
            std::vector<history::Drift> drift = history::Compare(store, test, false).drift;
            listed.push_back({std::move(test), std::move(drift)});
        }
        json ? PrintJson(listed) : PrintTable(listed);
    } catch (const std::exception& e) {
        std::cerr << "trevane-cli: history: " << e.what() << "\n";
        return kExitFailed;
    }
    return std::cout.flush() ? kExitOk : kExitFailed;
}

const VerbRegistration kHistory{
    {
        "history",
        "history [--json] [--limit N]",
        "lists the last N automatic tests (default 10) kept in trevane-history.sqlite in the\n"
        "      working directory, with each axis's largest torque and error and the drift\n"
        "      against the same controller's earlier tests; --json prints one object; needs\n"
        "      no --address and never connects",
        RunHistory,
    },
    OfflineVerb{}};

}  // namespace
}  // namespace trevane::cli
