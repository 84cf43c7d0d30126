#pragma once

#include <cstddef>

// Byte layout of the controller's data record as the status monitor reads it and the simulated
// controller writes it. All fields are little-endian.
namespace trevane::record {

inline constexpr std::size_t kHeaderSize = 40;   // header and I/O block
inline constexpr std::size_t kLengthOffset = 2;  // header bytes 2 and 3: total length
inline constexpr std::size_t kAxisBlockSize = 28;
inline constexpr std::size_t kAxisCount = 4;  // X, Y, Z, W
inline constexpr std::size_t kMinimumSize = kHeaderSize + kAxisCount * kAxisBlockSize;  // 152

constexpr std::size_t AxisBlockOffset(std::size_t axis) {
    return kHeaderSize + kAxisBlockSize * axis;
}

// Offsets inside one axis block.
inline constexpr std::size_t kStatusWord = 0;         // uint16
inline constexpr std::size_t kSwitches = 2;           // uint8
inline constexpr std::size_t kStopCode = 3;           // uint8
inline constexpr std::size_t kReferencePosition = 4;  // int32
inline constexpr std::size_t kMotorPosition = 8;      // int32
inline constexpr std::size_t kPositionError = 12;     // int32
inline constexpr std::size_t kAuxPosition = 16;       // int32
inline constexpr std::size_t kVelocity = 20;          // int32
inline constexpr std::size_t kTorque = 24;            // int16
inline constexpr std::size_t kAnalog = 26;            // int16

// The torque and analog fields' scale: 32767 counts stand for 10 V.
inline constexpr double kCountsPerVolt = 3276.7;

// Bits shown by the status table.
inline constexpr unsigned kStatusMoving = 0x8000;
inline constexpr unsigned kStatusStopped = 0x0010;
inline constexpr unsigned kStatusMotorOff = 0x0001;
inline constexpr unsigned kSwitchForwardLimit = 0x08;
inline constexpr unsigned kSwitchReverseLimit = 0x04;

}  // namespace trevane::record
