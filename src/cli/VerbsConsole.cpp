// Verbs of the operator console: one status table and the program dump.
#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <stop_token>
#include <string>
#include <system_error>
#include <vector>

#include "cli/Cli.h"
#include "cli/Json.h"
#include "cli/Verbs.h"
#include "common/Clock.h"
#include "common/Platform.h"
#include "common/RecordLayout.h"
#include "console/ProgramDump.h"
#include "console/StatusMonitor.h"
#include "link/Link.h"
#include "protocol/Protocol.h"

namespace trevane::cli {
namespace {

using StatusColumns = std::array<std::array<std::string, 13>, record::kAxisCount>;

// Labels left-aligned, values right-aligned so the digits line up.
std::string FormatStatusTable(const StatusColumns& columns) {
    std::size_t labelWidth = std::strlen(kStatusColumnHeadings[0]);
    for (const char* label : kStatusRowLabels) {
        labelWidth = std::max(labelWidth, std::strlen(label));
    }
    std::array<std::size_t, record::kAxisCount> widths{};
    for (std::size_t axis = 0; axis < columns.size(); ++axis) {
        widths[axis] = std::strlen(kStatusColumnHeadings[axis + 1]);
        for (const std::string& text : columns[axis]) {
            widths[axis] = std::max(widths[axis], text.size());
        }
    }
    const auto line = [&](const std::string& label, auto cell) {
        std::string out = label + std::string(labelWidth - label.size(), ' ');
        for (std::size_t axis = 0; axis < columns.size(); ++axis) {
            const std::string text = cell(axis);
            out += "  " + std::string(widths[axis] - text.size(), ' ') + text;
        }
        return out + "\n";
    };
    std::string table = line(kStatusColumnHeadings[0],
                             [](std::size_t axis) { return kStatusColumnHeadings[axis + 1]; });
    for (std::size_t row = 0; row < kStatusRowLabels.size(); ++row) {
        table += line(kStatusRowLabels[row], [&](std::size_t axis) { return columns[axis][row]; });
    }
    return table;
}

std::string DescribeFailure(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown failure";
    }
}

// One decoded record; false after printing why there is none.
bool ReadRecord(StatusColumns& columns, std::string& error) {
    std::vector<char> bytes;
    try {
        const std::shared_ptr<MotionClient> session = g_recordController.Get();
        if (!session) {
            throw MotionError("no data-record session is open");
        }
        bytes = session->record(kRecordQuery);
    } catch (...) {
        error = std::string("'") + kRecordQuery +
                "' failed: " + DescribeFailure(std::current_exception());
        return false;
    }
    if (bytes.size() < record::kMinimumSize) {
        error = "the data record has " + std::to_string(bytes.size()) + " bytes, fewer than the " +
                std::to_string(record::kMinimumSize) + " of four axis blocks";
        return false;
    }
    std::array<std::uint8_t, record::kMinimumSize> copy{};
    std::memcpy(copy.data(), bytes.data(), copy.size());
    for (std::size_t axis = 0; axis < columns.size(); ++axis) {
        columns[axis] = DecodeAxisColumn(copy.data(), static_cast<int>(axis));
    }
    return true;
}

// "forward limit" becomes "forward_limit": names a script can use as they are.
std::string FieldName(const char* label) {
    std::string name = label;
    std::replace(name.begin(), name.end(), ' ', '_');
    return name;
}

// Microseconds, with a point whatever the locale.
std::string SecondsText(double seconds) {
    char text[48];
    const auto [end, ec] =
        std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed, 6);
    return ec == std::errc{} ? std::string(text, end) : std::string("null");
}

std::string RecordJson(const StatusColumns& columns, double seconds) {
    json::Object axes;
    for (std::size_t axis = 0; axis < columns.size(); ++axis) {
        json::Object values;
        for (std::size_t row = 0; row < kStatusRowLabels.size(); ++row) {
            // The decoder gives whole numbers only.
            values.Raw(FieldName(kStatusRowLabels[row]), columns[axis][row]);
        }
        axes.Raw(kStatusColumnHeadings[axis + 1], values.Str());
    }
    return json::Object().Raw("time", SecondsText(seconds)).Raw("axes", axes.Str()).Str();
}

std::string CsvHeader() {
    std::string line = "time";
    for (std::size_t axis = 0; axis < record::kAxisCount; ++axis) {
        for (std::size_t row = 0; row < kStatusRowLabels.size(); ++row) {
            line += "," + StatusFieldName(axis, row);
        }
    }
    return line + "\n";
}

std::string CsvRow(const StatusColumns& columns, double seconds) {
    std::string line = SecondsText(seconds);
    for (const auto& column : columns) {
        for (const std::string& value : column) {
            line += "," + value;
        }
    }
    return line + "\n";
}

struct RecordArguments {
    bool watch = false;
    bool csv = false;
    long long intervalMs = 10;  // the window's status rate
    long long count = 0;        // 0: until Ctrl-C
};

bool ParseCount(const std::vector<std::string>& args, std::size_t& i, long long low,
                long long& value, std::string& error) {
    const std::string& option = args[i];
    const std::string text = i + 1 < args.size() ? args[++i] : std::string();
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || value < low ||
        value > 86'400'000) {
        error = "record " + option + " needs a whole number from " + std::to_string(low) +
                ", not '" + protocol::Printable(text) + "'";
        return false;
    }
    return true;
}

bool ParseRecord(const std::vector<std::string>& args, RecordArguments& parsed,
                 std::string& error) {
    bool timing = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--watch") {
            parsed.watch = true;
        } else if (args[i] == "--csv") {
            parsed.csv = true;
        } else if (args[i] == "--interval" || args[i] == "--count") {
            timing = true;
            long long& value = args[i] == "--interval" ? parsed.intervalMs : parsed.count;
            if (!ParseCount(args, i, 1, value, error)) {
                return false;
            }
        } else {
            error = "record: unknown argument '" + protocol::Printable(args[i]) +
                    "' (usage: record [--watch [--interval MS] [--count N]] [--csv])";
            return false;
        }
    }
    if (timing && !parsed.watch) {
        error = "record: --interval and --count go with --watch";
        return false;
    }
    return true;
}

class RecordPrinter {
  public:
    RecordPrinter(const Invocation& invocation, const RecordArguments& parsed)
        : json_(invocation.json), csv_(parsed.csv && !invocation.json) {
        if (csv_) {
            std::cout << CsvHeader();
        }
    }
    // False once standard output has gone.
    bool Print(const StatusColumns& columns, double seconds) {
        if (json_) {
            std::cout << RecordJson(columns, seconds) << '\n';
        } else if (csv_) {
            std::cout << CsvRow(columns, seconds);
        } else {
            std::cout << FormatStatusTable(columns);
        }
        if (!std::cout.flush()) {
            ReportBrokenOutput();
            return false;
        }
        return true;
    }

  private:
    bool json_;
    bool csv_;
};

// Polls on a fixed grid from the first poll, so a long watch does not drift. A poll that finds
// its slot already gone waits for the next free slot instead of catching up.
int WatchRecords(const Invocation& invocation, const RecordArguments& parsed,
                 RecordPrinter& printer) {
    std::stop_source interrupted;
    OnInterrupt([interrupted]() mutable { interrupted.request_stop(); });
    const PreciseTimersScope onTime;
    Clock& clock = SystemClock();
    const Clock::TimePoint start = clock.Now();
    const Clock::Duration interval = std::chrono::milliseconds(parsed.intervalMs);
    Clock::TimePoint deadline = start;
    long long late = 0;
    int status = kExitOk;
    for (long long taken = 0; parsed.count == 0 || taken < parsed.count; ++taken) {
        if (InterruptRequested() || !clock.SleepUntil(deadline, interrupted.get_token())) {
            break;
        }
        const Clock::TimePoint polled = clock.Now();
        StatusColumns columns;
        std::string error;
        if (!ReadRecord(columns, error)) {
            std::cerr << "trevane-cli: record: " << error << "\n";
            ReportFailure(invocation, error);
            status = kExitFailed;
            break;
        }
        if (!printer.Print(columns, std::chrono::duration<double>(polled - start).count())) {
            break;
        }
        deadline += interval;
        if (const Clock::TimePoint now = clock.Now(); now > deadline) {
            const auto missed = (now - deadline) / interval + 1;
            late += missed;
            deadline += missed * interval;
        }
    }
    if (late > 0) {
        std::cerr << "trevane-cli: record: " << late << " poll(s) came too late and were skipped\n";
    }
    if (InterruptRequested()) {
        return InterruptExitCode();
    }
    return status;
}

int RunRecord(const Invocation& invocation) {
    RecordArguments parsed;
    std::string error;
    if (!ParseRecord(invocation.args, parsed, error)) {
        return UsageError(error);
    }
    if (!ConnectLikeTheWindow(invocation)) {
        return kExitUsage;
    }
    RecordPrinter printer(invocation, parsed);
    if (parsed.watch) {
        return WatchRecords(invocation, parsed, printer);
    }
    StatusColumns columns;
    if (!ReadRecord(columns, error)) {
        std::cerr << "trevane-cli: record: " << error << "\n";
        ReportFailure(invocation, error);
        return kExitFailed;
    }
    printer.Print(columns, 0.0);
    return kExitOk;
}

int RunDump(const Invocation& invocation) {
    if (invocation.args.size() > 1) {
        return UsageError("dump takes at most one FILE");
    }
    const std::string file = invocation.args.empty() ? kDumpFileName : invocation.args[0];
    if (!ConnectLikeTheWindow(invocation)) {
        return kExitUsage;
    }
    std::string program;
    try {
        program = UploadProgramText();
    } catch (...) {
        const std::string error =
            "the program upload failed: " + DescribeFailure(std::current_exception()) + "; '" +
            file + "' was not touched";
        std::cerr << "trevane-cli: dump: " << error << "\n";
        ReportFailure(invocation, error);
        return kExitFailed;
    }
    std::string error;
    if (!WriteTextFileAtomically(file, program, error)) {
        std::cerr << "trevane-cli: dump: " << error << "\n";
        ReportFailure(invocation, error);
        return kExitFailed;
    }
    if (invocation.json) {
        // What is on disk, line ends included.
        std::error_code unknown;
        const std::uintmax_t bytes = std::filesystem::file_size(file, unknown);
        json::Object line;
        line.Text("file", file);
        if (unknown) {
            line.Null("bytes");
        } else {
            line.Number("bytes", static_cast<long long>(bytes));
        }
        json::WriteLine(std::cout, line);
    } else {
        std::cout << "Dumped to " << file << "\n";
    }
    return kExitOk;
}

const VerbRegistration kRecordVerb({
    "record",
    "record [--watch [--interval MS] [--count N]] [--csv]",
    "connect and print one decoded status table (axes X, Y, Z, W); --csv one row under a\n"
    "      header; --watch one every MS milliseconds (default 10) until N records or Ctrl-C",
    RunRecord,
});

const VerbRegistration kDumpVerb({
    "dump",
    "dump [FILE]",
    "connect and write the stored program to FILE (default logProgram.txt) with CR LF line ends",
    RunDump,
});

}  // namespace
}  // namespace trevane::cli
