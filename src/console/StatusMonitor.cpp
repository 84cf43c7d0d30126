#include "console/StatusMonitor.h"

#include <cstring>
#include <memory>
#include <vector>

#include "common/CLocale.h"
#include "link/Link.h"
#include "link/TestState.h"
#include "link/WindowOps.h"

namespace trevane {

std::array<std::uint8_t, record::kMinimumSize> g_record{};
std::array<std::array<bool, 16>, 4> g_axisStatusFlags{};
std::array<std::array<bool, 8>, 4> g_axisSwitchFlags{};

const std::array<const char*, 13> kStatusRowLabels = {
    "refpos",   "motorpos",      "errorpos",      "auxpos", "velocity", "torque",   "analog",
    "stopcode", "forward limit", "reverse limit", "moving", "stopped",  "motor off"};
const std::array<const char*, 5> kStatusColumnHeadings = {"Item", "X", "Y", "Z", "W"};

namespace {

// The record is little-endian whatever the host is, so it is assembled byte by byte.
std::uint16_t ReadU16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::int16_t ReadI16(const std::uint8_t* bytes) {
    return static_cast<std::int16_t>(ReadU16(bytes));
}

std::int32_t ReadI32(const std::uint8_t* bytes) {
    const std::uint32_t value =
        static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
        (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
    return static_cast<std::int32_t>(value);
}

const char* FlagText(unsigned bits, unsigned mask) {
    return (bits & mask) != 0 ? "1" : "0";
}

}  // namespace

std::array<std::string, 13> DecodeAxisColumn(const std::uint8_t* recordBytes, int axis) {
    using namespace record;
    const std::uint8_t* block = recordBytes + AxisBlockOffset(static_cast<std::size_t>(axis));
    const unsigned status = ReadU16(block + kStatusWord);
    const unsigned switches = block[kSwitches];
    // Every text fits the short-string buffer, so a poll allocates nothing here.
    return {FormatInt(ReadI32(block + kReferencePosition)),
            FormatInt(ReadI32(block + kMotorPosition)),
            FormatInt(ReadI32(block + kPositionError)),
            FormatInt(ReadI32(block + kAuxPosition)),
            FormatInt(ReadI32(block + kVelocity)),
            FormatInt(ReadI16(block + kTorque)),
            FormatInt(ReadI16(block + kAnalog)),
            FormatInt(block[kStopCode]),
            FlagText(switches, kSwitchForwardLimit),
            FlagText(switches, kSwitchReverseLimit),
            FlagText(status, kStatusMoving),
            FlagText(status, kStatusStopped),
            FlagText(status, kStatusMotorOff)};
}

void DecodeAxisFlags() {
    for (std::size_t axis = 0; axis < record::kAxisCount; ++axis) {
        const std::uint8_t* block = g_record.data() + record::AxisBlockOffset(axis);
        const unsigned status = ReadU16(block + record::kStatusWord);
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
    try {
        const std::shared_ptr<MotionClient> session = g_recordController.Get();
        if (!session) {
            return false;
        }
        const std::vector<char> reply = session->record(kRecordQuery);
        if (reply.size() < record::kMinimumSize) {
            return false;
        }
        std::memcpy(g_record.data(), reply.data(), record::kMinimumSize);
        DecodeAxisFlags();
        const auto window = Window();
        for (int axis = 0; axis < static_cast<int>(record::kAxisCount); ++axis) {
            const std::array<std::string, 13> column = DecodeAxisColumn(g_record.data(), axis);
            for (int row = 0; row < static_cast<int>(column.size()); ++row) {
                window->SetStatusCell(row, axis + 1, column[row]);
            }
        }
        return true;
    } catch (...) {
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
