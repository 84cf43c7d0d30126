#include "scope/RecordValues.h"

namespace trevane::scope {
namespace {

// The record is little-endian whatever the host is, so it is assembled byte by byte.
std::uint16_t ReadU16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::int32_t ReadI32(const std::uint8_t* bytes) {
    const std::uint32_t value =
        static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
        (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
    return static_cast<std::int32_t>(value);
}

std::int32_t Flag(unsigned bits, unsigned mask) {
    return (bits & mask) != 0 ? 1 : 0;
}

}  // namespace

AxisValues DecodeAxisValues(const std::uint8_t* recordBytes, std::size_t axis) {
    namespace r = record;
    const std::uint8_t* block = recordBytes + r::AxisBlockOffset(axis);
    const unsigned status = ReadU16(block + r::kStatusWord);
    const unsigned switches = block[r::kSwitches];
    return {ReadI32(block + r::kReferencePosition),
            ReadI32(block + r::kMotorPosition),
            ReadI32(block + r::kPositionError),
            ReadI32(block + r::kAuxPosition),
            ReadI32(block + r::kVelocity),
            static_cast<std::int16_t>(ReadU16(block + r::kTorque)),
            static_cast<std::int16_t>(ReadU16(block + r::kAnalog)),
            block[r::kStopCode],
            Flag(switches, r::kSwitchForwardLimit),
            Flag(switches, r::kSwitchReverseLimit),
            Flag(status, r::kStatusMoving),
            Flag(status, r::kStatusStopped),
            Flag(status, r::kStatusMotorOff)};
}

RecordValues DecodeRecordValues(const std::uint8_t* recordBytes) {
    RecordValues values{};
    for (std::size_t axis = 0; axis < record::kAxisCount; ++axis) {
        const AxisValues column = DecodeAxisValues(recordBytes, axis);
        for (std::size_t row = 0; row < kValuesPerAxis; ++row) {
            values[Channel{axis, row}.Index()] = column[row];
        }
    }
    return values;
}

const char* RowUnit(std::size_t row) {
    switch (row) {
        case kRefPos:
        case kMotorPos:
        case kErrorPos:
        case kAuxPos:
        case kTorque:
        case kAnalog:
            return "counts";
        case kVelocity:
            return "counts/s";
        default:
            return "";
    }
}

bool IsFlagRow(std::size_t row) {
    return row >= kForwardLimit && row < kValuesPerAxis;
}

}  // namespace trevane::scope
