#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/Clock.h"
#include "protocol/MotionClient.h"
#include "sim/Simulator.h"

namespace trevane {
namespace {

// The data record byte by byte, at literal positions: a layout constant that moves (or two that
// trade places) shows here even though writer and reader would still agree with each other.
TEST(DataRecordGolden, FieldsSitAtTheirBytePositions) {
    auto clock = std::make_shared<VirtualClock>();
    auto machine = std::make_shared<sim::Machine>(clock);
    std::shared_ptr<MotionClient> client = sim::MakeInProcessClient(machine);
    for (const char* command :
         {"TL*=5.0", "AB1", "SH", "DC*=2000000", "AC*=300000", "SP*=10000", "PT1,1,1", "SB1", "SB2",
          "SB3", "MOW", "DP5,-6,7,8", "PAY=-20000"}) {
        client->command(command, "\r", ":", true);
    }
    clock->Advance(std::chrono::milliseconds(500));
    const sim::AxisState x = machine->ReadAxis(0);
    const sim::AxisState y = machine->ReadAxis(1);
    const std::vector<char> bytes = client->record("QR IXYZW");
    ASSERT_EQ(bytes.size(), 152u);
    const auto u8 = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(bytes.at(at)));
    };
    const auto u16 = [&](std::size_t at) { return u8(at) | (u8(at + 1) << 8); };
    const auto i32 = [&](std::size_t at) {
        return static_cast<std::int32_t>(u16(at) | (u16(at + 2) << 16));
    };
    const auto i16 = [&](std::size_t at) { return static_cast<std::int16_t>(u16(at)); };

    EXPECT_EQ(u16(2), 152u) << "the total length, header bytes 2-3";

    // X (bytes 40-67) stands where DP put it.
    EXPECT_EQ(u16(40), 0u) << "X status word";
    EXPECT_EQ(i32(44), 5) << "X reference position";
    EXPECT_EQ(i32(48), 5) << "X motor position";
    EXPECT_EQ(x.referencePosition, 5);

    // Y (bytes 68-95) is on its way to -20000: every field has a value of its own.
    ASSERT_NE(y.referencePosition, y.motorPosition);
    ASSERT_NE(y.velocity, 0);
    ASSERT_NE(std::lround(y.torque * 3276.7), 0);
    EXPECT_EQ(u16(68), 0x8000u) << "Y status word: moving";
    EXPECT_EQ(i32(72), y.referencePosition) << "Y reference position";
    EXPECT_EQ(i32(76), y.motorPosition) << "Y motor position";
    EXPECT_EQ(i32(80), y.positionError) << "Y position error";
    EXPECT_EQ(i32(84), 0) << "Y auxiliary position";
    EXPECT_EQ(i32(88), y.velocity) << "Y velocity";
    EXPECT_EQ(i16(92), std::lround(y.torque * 3276.7)) << "Y torque";
    EXPECT_EQ(i16(94), 0) << "Y analog input";

    // W (bytes 124-151) is switched off.
    EXPECT_EQ(u16(124), 0x0001u) << "W status word: motor off";
    EXPECT_EQ(u8(127), static_cast<unsigned>(machine->ReadAxis(3).stopCode)) << "W stop code";

    // With CN1 the switches read the other way: some switch bit of W is set (byte 126).
    client->command("CN1", "\r", ":", true);
    const std::vector<char> swapped = client->record("QR IXYZW");
    const sim::AxisState w = machine->ReadAxis(3);
    const unsigned switches = (w.forwardLimitOn ? 0x08u : 0u) | (w.reverseLimitOn ? 0x04u : 0u);
    ASSERT_NE(switches, 0u);
    EXPECT_EQ(static_cast<unsigned char>(swapped.at(126)), switches) << "W switches";
    EXPECT_EQ(static_cast<unsigned char>(swapped.at(127)), w.stopCode) << "W stop code";
}

}  // namespace
}  // namespace trevane
