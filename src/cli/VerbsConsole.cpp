// Verbs of the operator console: one status table and the program dump.
#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <stop_token>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#include "cli/Json.h"
#include "cli/VerbContext.h"
#include "cli/Verbs.h"
#include "common/Clock.h"
#include "common/Platform.h"
#include "common/RecordLayout.h"
#include "console/ProgramDump.h"
#include "console/StatusMonitor.h"
#include "controller/Controller.h"
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
bool ReadRecord(Controller& controller, StatusColumns& columns, std::string& error) {
    std::vector<char> bytes;
    ControllerLink& link = controller.Link();
    const std::shared_ptr<MotionClient> session = link.RecordSession();
    try {
        if (!session) {
            throw MotionError("no data-record session is open");
        }
        try {
            bytes = session->record(kRecordQuery);
        } catch (const std::exception& failure) {
            link.NoteSessionFailure(session, failure);
            throw;
        }
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

static_assert(kRecordFields.size() == std::tuple_size_v<decltype(kStatusRowLabels)>);

// value x 10 / 32767, to the tooltip's three decimals.
std::string VoltsText(const std::string& counts) {
    long long value = 0;
    const auto [end, ec] = std::from_chars(counts.data(), counts.data() + counts.size(), value);
    if (ec != std::errc{} || end != counts.data() + counts.size()) {
        return "null";
    }
    return json::NumberText(std::round(static_cast<double>(value) * 10000.0 / 32767.0) / 1000.0);
}

// One reading's time: when it was taken, and seconds since the verb's first poll.
struct ReadingTime {
    std::chrono::system_clock::time_point wall;
    double elapsedSeconds = 0.0;
};

std::string RecordJson(const StatusColumns& columns, const ReadingTime& time) {
    json::Object axes;
    for (std::size_t axis = 0; axis < columns.size(); ++axis) {
        json::Object values;
        for (std::size_t row = 0; row < kRecordFields.size(); ++row) {
            // The decoder gives whole numbers only.
            values.Raw(kRecordFields[row].name, columns[axis][row]);
            if (kRecordFields[row].voltsName != nullptr) {
                values.Raw(kRecordFields[row].voltsName, VoltsText(columns[axis][row]));
            }
        }
        axes.Raw(kStatusColumnHeadings[axis + 1], values.Str());
    }
    return json::Object()
        .Text("time", json::UtcTime(time.wall))
        .Number("elapsed_s", time.elapsedSeconds)
        .Raw("axes", axes.Str())
        .Str();
}

// The JSON names, axis first: "X_torque_counts".
std::string CsvHeader() {
    std::string line = "time,elapsed_s";
    for (std::size_t axis = 0; axis < record::kAxisCount; ++axis) {
        for (std::size_t row = 0; row < kRecordFields.size(); ++row) {
            line += "," + RecordFieldName(axis, row);
            if (kRecordFields[row].voltsName != nullptr) {
                line += "," + std::string(kStatusColumnHeadings[axis + 1]) + "_" +
                        kRecordFields[row].voltsName;
            }
        }
    }
    return line + "\n";
}

std::string CsvRow(const StatusColumns& columns, const ReadingTime& time) {
    std::string line = json::UtcTime(time.wall) + "," + json::NumberText(time.elapsedSeconds);
    for (const auto& column : columns) {
        for (std::size_t row = 0; row < kRecordFields.size(); ++row) {
            line += "," + column[row];
            if (kRecordFields[row].voltsName != nullptr) {
                line += "," + VoltsText(column[row]);
            }
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
    RecordPrinter(VerbContext& context, const Invocation& invocation,
                  const RecordArguments& parsed)
        : context_(context), json_(invocation.json), csv_(parsed.csv && !invocation.json) {
        if (csv_) {
            context_.out << CsvHeader();
        }
    }
    // False once standard output has gone.
    bool Print(const StatusColumns& columns, const ReadingTime& time) {
        if (json_) {
            context_.out << RecordJson(columns, time) << '\n';
        } else if (csv_) {
            context_.out << CsvRow(columns, time);
        } else {
            context_.out << FormatStatusTable(columns);
        }
        if (!context_.out.flush()) {
            context_.OutputBroken();
            return false;
        }
        return true;
    }

  private:
    VerbContext& context_;
    bool json_;
    bool csv_;
};

// Polls on a fixed grid from the first poll, so a long watch does not drift. A poll that finds
// its slot already gone waits for the next free slot instead of catching up.
int WatchRecords(VerbContext& context, const RecordArguments& parsed, RecordPrinter& printer) {
    const std::stop_token interrupted = context.StopToken();
    const PreciseTimersScope onTime;
    Clock& clock = SystemClock();
    const Clock::TimePoint start = clock.Now();
    const Clock::Duration interval = std::chrono::milliseconds(parsed.intervalMs);
    Clock::TimePoint deadline = start;
    long long late = 0;
    int status = kExitOk;
    for (long long taken = 0; parsed.count == 0 || taken < parsed.count; ++taken) {
        if (context.Interrupted() || !clock.SleepUntil(deadline, interrupted)) {
            break;
        }
        const Clock::TimePoint polled = clock.Now();
        const ReadingTime time{clock.WallNow(),
                               std::chrono::duration<double>(polled - start).count()};
        StatusColumns columns;
        std::string error;
        if (!ReadRecord(context.controller, columns, error)) {
            ReportError(context, "record: " + error);
            status = kExitFailed;
            break;
        }
        if (!printer.Print(columns, time)) {
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
        ReportError(context, "record: " + std::to_string(late) +
                                 " poll(s) came too late and were skipped");
    }
    if (context.Interrupted()) {
        return context.InterruptExitCode();
    }
    return status;
}

}  // namespace

std::optional<std::string> CheckRecordArguments(const std::vector<std::string>& args) {
    RecordArguments parsed;
    std::string error;
    if (!ParseRecord(args, parsed, error)) {
        return error;
    }
    return std::nullopt;
}

int RunRecord(VerbContext& context, const Invocation& invocation) {
    RecordArguments parsed;
    std::string error;
    if (!ParseRecord(invocation.args, parsed, error)) {
        return UsageError(context, error);
    }
    if (!ConnectLikeTheWindow(context, invocation)) {
        return kExitUsage;
    }
    RecordPrinter printer(context, invocation, parsed);
    if (parsed.watch) {
        return WatchRecords(context, parsed, printer);
    }
    const ReadingTime time{SystemClock().WallNow(), 0.0};
    StatusColumns columns;
    if (!ReadRecord(context.controller, columns, error)) {
        ReportError(context, "record: " + error);
        return kExitFailed;
    }
    printer.Print(columns, time);
    return kExitOk;
}


int RunDump(VerbContext& context, const Invocation& invocation) {
    if (invocation.args.size() > 1) {
        return UsageError(context, "dump takes at most one FILE");
    }
    const std::string file = invocation.args.empty() ? kDumpFileName : invocation.args[0];
    if (!ConnectLikeTheWindow(context, invocation)) {
        return kExitUsage;
    }
    std::string program;
    try {
        program = UploadProgramText(context.controller.Link());
    } catch (...) {
        const std::string error =
            "the program upload failed: " + DescribeFailure(std::current_exception()) + "; '" +
            file + "' was not touched";
        ReportError(context, "dump: " + error);
        return kExitFailed;
    }
    std::string error;
    if (!WriteTextFileAtomically(file, program, error)) {
        ReportError(context, "dump: " + error);
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
        json::WriteLine(context.out, line);
    } else {
        context.out << "Dumped to " << file << "\n";
    }
    return kExitOk;
}

}  // namespace trevane::cli
