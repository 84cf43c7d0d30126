#include "console/StatusMonitor.h"

#include <cstring>
#include <memory>
#include <vector>

#include "common/CLocale.h"
#include "common/Clock.h"
#include "link/Link.h"
#include "link/TestState.h"
#include "link/WindowOps.h"
#include "scope/ScopeBuffer.h"

namespace trevane {

std::array<std::uint8_t, record::kMinimumSize> g_record{};
std::array<std::array<bool, 16>, 4> g_axisStatusFlags{};
std::array<std::array<bool, 8>, 4> g_axisSwitchFlags{};

void ResetConsoleState() {
    g_record = {};
    g_axisStatusFlags = {};
    g_axisSwitchFlags = {};
    scope::StatusScopeBuffer().Clear();
}

const std::array<const char*, 13> kStatusRowLabels = {
    "refpos",   "motorpos",      "errorpos",      "auxpos", "velocity", "torque",   "analog",
    "stopcode", "forward limit", "reverse limit", "moving", "stopped",  "motor off"};
const std::array<const char*, 5> kStatusColumnHeadings = {"Item", "X", "Y", "Z", "W"};

namespace {

const char* FlagText(std::int32_t flag) {
    return flag != 0 ? "1" : "0";
}

}  // namespace

std::string StatusFieldName(std::size_t axis, std::size_t row) {
    return std::string(kStatusColumnHeadings[axis + 1]) + " " + kStatusRowLabels[row];
}

const std::array<RecordField, 13> kRecordFields = {{
    {"refpos_counts", nullptr},
    {"motorpos_counts", nullptr},
    {"errorpos_counts", nullptr},
    {"auxpos_counts", nullptr},
    {"velocity_counts_per_s", nullptr},
    {"torque_counts", "torque_v"},
    {"analog_counts", "analog_v"},
    {"stopcode", nullptr},
    {"forward_limit", nullptr},
    {"reverse_limit", nullptr},
    {"moving", nullptr},
    {"stopped", nullptr},
    {"motor_off", nullptr},
}};

std::string RecordFieldName(std::size_t axis, std::size_t row) {
    return std::string(kStatusColumnHeadings[axis + 1]) + "_" + kRecordFields[row].name;
}

std::array<std::string, 13> DecodeAxisColumn(const std::uint8_t* recordBytes, int axis) {
    const scope::AxisValues values =
        scope::DecodeAxisValues(recordBytes, static_cast<std::size_t>(axis));
    std::array<std::string, 13> texts;
    // Every text fits the short-string buffer, so a poll allocates nothing here.
    for (std::size_t row = 0; row < values.size(); ++row) {
        texts[row] = scope::IsFlagRow(row) ? FlagText(values[row]) : FormatInt(values[row]);
    }
    return texts;
}

void DecodeAxisFlags() {
    for (std::size_t axis = 0; axis < record::kAxisCount; ++axis) {
        const std::uint8_t* block = g_record.data() + record::AxisBlockOffset(axis);
        const unsigned status = static_cast<unsigned>(block[record::kStatusWord] |
                                                      (block[record::kStatusWord + 1] << 8));
        const unsigned switches = block[record::kSwitches];
        for (unsigned bit = 0; bit < 16; ++bit) {
            g_axisStatusFlags[axis][bit] = ((status >> bit) & 1U) != 0;
        }
        for (unsigned bit = 0; bit < 8; ++bit) {
            g_axisSwitchFlags[axis][bit] = ((switches >> bit) & 1U) != 0;
        }
    }
}

bool UpdateStatusTable() {
    if (!g_connected) {
        return false;
    }
    // A failed poll is dropped without a word; the next tick tries again.
    const std::shared_ptr<MotionClient> session = RecordSession();
    if (!session) {
        return false;
    }
    try {
        const std::vector<char> reply = session->record(kRecordQuery);
        if (reply.size() < record::kMinimumSize) {
            scope::StatusScopeBuffer().AddGap(SystemClock().Now());
            return false;
        }
        std::memcpy(g_record.data(), reply.data(), record::kMinimumSize);
        scope::StatusScopeBuffer().AddRecord(SystemClock().Now(), g_record.data());
        DecodeAxisFlags();
        const auto window = Window();
        for (int axis = 0; axis < static_cast<int>(record::kAxisCount); ++axis) {
            const std::array<std::string, 13> column = DecodeAxisColumn(g_record.data(), axis);
            for (int row = 0; row < static_cast<int>(column.size()); ++row) {
                window->SetStatusCell(row, axis + 1, column[row]);
            }
        }
        return true;
    } catch (const std::exception& error) {
        NoteSessionFailure(session, error);
        scope::StatusScopeBuffer().AddGap(SystemClock().Now());
        return false;
    } catch (...) {
        scope::StatusScopeBuffer().AddGap(SystemClock().Now());
        return false;
    }
}

void OnProgressTick() {
    Window()->SetProgress(g_testProgress);
}

void OnTimer(int id) {
    if (id == IDT_STATUS) {
        UpdateStatusTable();
    } else if (id == IDT_PROGRESS) {
        OnProgressTick();
    }
}

}  // namespace trevane
