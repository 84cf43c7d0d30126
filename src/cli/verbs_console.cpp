// Verbs of the operator console: one status table and the program dump.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Verbs.h"
#include "common/RecordLayout.h"
#include "console/ProgramDump.h"
#include "console/StatusMonitor.h"
#include "controller/Link.h"

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

int RunRecord(const Invocation& invocation) {
    if (!invocation.args.empty()) {
        return UsageError("record takes no arguments");
    }
    if (!ConnectLikeTheWindow(invocation)) {
        return kExitUsage;
    }
    std::vector<char> bytes;
    try {
        const std::shared_ptr<MotionClient> session = g_recordController.Get();
        if (!session) {
            throw MotionError("no data-record session is open");
        }
        bytes = session->record(kRecordQuery);
    } catch (...) {
        std::cerr << "trevane-cli: record: '" << kRecordQuery
                  << "' failed: " << DescribeFailure(std::current_exception()) << "\n";
        return kExitFailed;
    }
    if (bytes.size() < record::kMinimumSize) {
        std::cerr << "trevane-cli: record: the data record has " << bytes.size()
                  << " bytes, fewer than the " << record::kMinimumSize << " of four axis blocks\n";
        return kExitFailed;
    }
    std::array<std::uint8_t, record::kMinimumSize> copy{};
    std::memcpy(copy.data(), bytes.data(), copy.size());
    StatusColumns columns;
    for (std::size_t axis = 0; axis < columns.size(); ++axis) {
        columns[axis] = DecodeAxisColumn(copy.data(), static_cast<int>(axis));
    }
    std::cout << FormatStatusTable(columns);
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
        std::cerr << "trevane-cli: dump: the program upload failed: "
                  << DescribeFailure(std::current_exception()) << "; '" << file
                  << "' was not touched\n";
        return kExitFailed;
    }
    std::string error;
    if (!WriteTextFileAtomically(file, program, error)) {
        std::cerr << "trevane-cli: dump: " << error << "\n";
        return kExitFailed;
    }
    std::cout << "Dumped to " << file << "\n";
    return kExitOk;
}

const VerbRegistration kRecordVerb({
    "record",
    "record",
    "connect and print one decoded status table (axes X, Y, Z, W)",
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
