// The test history of the working directory, read without a controller.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

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

// JSON string with the escapes the format requires; bytes above 0x7F go through unchanged.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string JsonNumber(double value) {
    if (!std::isfinite(value)) {
        return "null";
    }
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

void PrintJson(const std::vector<Listed>& tests) {
    std::string out = "{\"tests\": [";
    for (std::size_t t = 0; t < tests.size(); ++t) {
        const history::StoredTest& test = tests[t].test;
        out += t == 0 ? "" : ", ";
        out += "{\"id\": " + FormatInt(test.id) + ", \"started\": " + JsonString(test.startedUtc) +
               ", \"controller\": " + JsonString(Controller(test)) +
               ", \"outcome\": " + JsonString(test.outcome) + ", \"moves\": [";
        for (std::size_t m = 0; m < test.moves.size(); ++m) {
            const history::StoredMove& move = test.moves[m];
            out += m == 0 ? "" : ", ";
            out += "{\"axis\": " + JsonString(std::string(1, move.axis)) +
                   ", \"target\": " + FormatInt(move.target) +
                   ", \"verdict\": " + JsonString(move.verdict) +
                   ", \"max_torque\": " + JsonNumber(move.maxTorque) +
                   ", \"max_error\": " + JsonNumber(move.maxError) + "}";
        }
        out += "], \"drift\": [";
        for (std::size_t d = 0; d < tests[t].drift.size(); ++d) {
            const history::Drift& drift = tests[t].drift[d];
            out += d == 0 ? "" : ", ";
            out += "{\"axis\": " + JsonString(std::string(1, drift.axis)) +
                   ", \"target\": " + FormatInt(drift.target) +
                   ", \"quantity\": " + JsonString(drift.quantity) +
                   ", \"value\": " + JsonNumber(drift.value) +
                   ", \"baseline\": " + JsonNumber(drift.baseline) +
                   ", \"change\": " + JsonNumber(drift.change) + "}";
        }
        out += "]}";
    }
    std::cout << out << "]}\n";
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
