#include "console/StatusMonitor.h"

#include <cstring>
#include <memory>
#include <vector>

#include "common/CLocale.h"
#include "common/Clock.h"
#include "link/ControllerLink.h"

namespace trevane {

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

StatusMonitor::StatusMonitor(ControllerLink& link) : link_(link) {}

std::array<std::uint8_t, record::kMinimumSize> StatusMonitor::Record() const {
    std::lock_guard lock(recordMutex_);
    return record_;
}

scope::ScopeBuffer& StatusMonitor::Scope() {
    std::lock_guard lock(scopeMutex_);
    if (!scopeBuffer_) {
        scopeBuffer_ = std::make_unique<scope::ScopeBuffer>();
        scope_ = scopeBuffer_.get();
    }
    return *scopeBuffer_;
}

void StatusMonitor::AddGap() {
    if (scope::ScopeBuffer* buffer = scope_.load()) {
        buffer->AddGap(SystemClock().Now());
    }
}

bool StatusMonitor::Poll() {
    if (!link_.Connected()) {
        return false;
    }
    // A failed poll is dropped without a word; the next tick tries again.
    std::shared_ptr<MotionClient> session = link_.RecordSession();
    if (!session) {
        AddGap();
        return false;
    }
    try {
        // An idle limit never greys the table: a closed session is reopened for this poll.
        const std::vector<char> reply = link_.CallOnLiveSession(
            session, false, [](MotionClient& live) { return live.record(kRecordQuery); });
        link_.NoteSessionUse(session);
        if (reply.size() < record::kMinimumSize) {
            AddGap();
            return false;
        }
        std::array<std::uint8_t, record::kMinimumSize> bytes;
        std::memcpy(bytes.data(), reply.data(), record::kMinimumSize);
        {
            std::lock_guard lock(recordMutex_);
            record_ = bytes;
        }
        if (scope::ScopeBuffer* buffer = scope_.load()) {
            buffer->AddRecord(SystemClock().Now(), bytes.data());
        }
        StatusTable values;
        for (int axis = 0; axis < static_cast<int>(record::kAxisCount); ++axis) {
            values[static_cast<std::size_t>(axis)] = DecodeAxisColumn(bytes.data(), axis);
        }
        link_.TheOperator()->ShowStatus(values);
        return true;
    } catch (const std::exception& error) {
        link_.NoteSessionFailure(session, error);
        AddGap();
        return false;
    } catch (...) {
        AddGap();
        return false;
    }
}

}  // namespace trevane
