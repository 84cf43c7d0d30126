#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/RecordLayout.h"

// The thirteen values of each axis that the status table shows, as numbers: what the scope
// keeps of every polled record.
namespace trevane::scope {

inline constexpr std::size_t kValuesPerAxis = 13;
inline constexpr std::size_t kChannelCount = kValuesPerAxis * record::kAxisCount;  // 52

// The rows of the status table, top to bottom.
enum Row : std::size_t {
    kRefPos,
    kMotorPos,
    kErrorPos,
    kAuxPos,
    kVelocity,
    kTorque,
    kAnalog,
    kStopCode,
    kForwardLimit,
    kReverseLimit,
    kMoving,
    kStopped,
    kMotorOff,
};

using AxisValues = std::array<std::int32_t, kValuesPerAxis>;
using RecordValues = std::array<std::int32_t, kChannelCount>;

// One value of one axis; channels are numbered axis by axis, rows within.
struct Channel {
    std::size_t axis = 0;  // 0..3 for X, Y, Z, W
    std::size_t row = 0;   // a Row
    constexpr std::size_t Index() const { return axis * kValuesPerAxis + row; }
    static constexpr Channel At(std::size_t index) {
        return {index / kValuesPerAxis, index % kValuesPerAxis};
    }
    constexpr bool operator==(const Channel&) const = default;
};

// `record` holds at least record::kMinimumSize bytes.
AxisValues DecodeAxisValues(const std::uint8_t* record, std::size_t axis);
RecordValues DecodeRecordValues(const std::uint8_t* record);

// The unit a row's raw value is counted in; empty for the flags and the stop code.
const char* RowUnit(std::size_t row);
// Flags read 0 or 1 and nothing else.
bool IsFlagRow(std::size_t row);

// Torque and analog input are also read in volts.
inline constexpr bool HasVolts(std::size_t row) {
    return row == kTorque || row == kAnalog;
}
inline constexpr double Volts(double counts) {
    return counts / record::kCountsPerVolt;
}

}  // namespace trevane::scope
