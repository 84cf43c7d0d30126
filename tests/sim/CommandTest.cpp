#include <cstring>

#include "common/RecordLayout.h"
#include "sim/SimFixture.h"

// The command language as the rest of the system speaks it, and the replies' exact bytes.
namespace trevane::sim::testing {
namespace {

class CommandTest : public SimFixture {
  protected:
    // Every command that the window, the procedures, the jog and the automatic test send.
    static std::vector<std::string> CommandsTheSystemSends() {
        return {"HX",
                "SB7",
                "TL*=5.0",
                "BL-214783648,-214783648,-214783648;",
                "FL214783647,214783647,214783647;",
                "AB1",
                "CB1",
                "CB2",
                "CB3",
                "CB4",
                "MO",
                "SH",
                "DC*=2000000",
                "AC*=300000",
                "SP*=10000",
                "BL-214783648,-214783648,-214783648",
                "FL214783647,214783647,214783647",
                "PT1,1,1",
                "SB1",
                "SB2",
                "SB3",
                "CB7",
                "DP0,0,0,0",
                "PT0,0,0,0",
                "JG-50,0,-50,0",
                "BG",
                "AB1",
                "PT1,1,1,1",
                "SP*=10000",
                "SP*=?",
                "AC*=?",
                "DC*=?",
                "KP*=?",
                "KI*=?",
                "KD*=?",
                "MG _CN",
                "MG @OUT[1]",
                "MG @OUT[4]",
                "MG _LFX",
                "MG _LRX",
                "MG _LFY",
                "MG _LRY",
                "MG _LFZ",
                "MG _LRZ",
                "MG _LFW",
                "MG _LRW",
                "SH",
                "PTX=1",
                "PAX=-20000",
                "TTX",
                "TEX",
                "TPX",
                "MOX",
                "SH",
                "PTY=1",
                "PAY=0",
                "TTY",
                "TEY",
                "TPY",
                "MOZ",
                "CN1",
                "CN-1",
                "TC1"};
    }
};

TEST_F(CommandTest, AcceptsEveryCommandTheSystemSends) {
    for (const std::string& command : CommandsTheSystemSends()) {
        EXPECT_NO_THROW(Send(command)) << command;
    }
    EXPECT_EQ(machine->ReceivedCommands(), CommandsTheSystemSends());
}

TEST_F(CommandTest, RepliesHaveTheirExactBytes) {
    Send("SB2");
    EXPECT_EQ(SendRaw("MG @OUT[2]"), " 1.0000\r\n");
    EXPECT_EQ(SendRaw("MG _CN"), "-1.0000\r\n");
    EXPECT_EQ(SendRaw("TTX"), " 0.0000\r\n");
    EXPECT_EQ(SendRaw("TEX"), " 0\r\n");
    Send("DP-20000");
    EXPECT_EQ(SendRaw("TPX"), "-20000\r\n");
    EXPECT_EQ(SendRaw("TPX;TPY"), "-20000\r\n 0\r\n");
    EXPECT_EQ(SendRaw("SB1"), "");
    EXPECT_EQ(SendRaw("DC*=?"), " 256000, 256000, 256000, 256000\r\n");
    EXPECT_EQ(SendRaw("TL*=?"), " 9.9982, 9.9982, 9.9982, 9.9982\r\n");
    EXPECT_EQ(SendRaw("MG 2.5"), " 2.5000\r\n");
}

TEST_F(CommandTest, AssignmentFormsSetTheNamedAxes) {
    Send("SP*=1000");
    Send("SPY=2000");
    Send("SP,,3000");
    Send("SP 4000 , , , 5000");
    EXPECT_EQ(Send("SP*=?"), "4000, 2000, 3000, 5000");
    EXPECT_EQ(Send("SPZ=?"), "3000");
    EXPECT_EQ(Send("SP ?,,?"), "4000, 3000");
    EXPECT_EQ(Send("KP*=1.5"), "");
    EXPECT_EQ(Send("KPW=?"), "1.5000");
    EXPECT_EQ(Send("PTX=1;PT*=?"), "1, 0, 0, 0");
}

TEST_F(CommandTest, SeveralCommandsOnOneLineRunInOrderAndStopAtTheFirstRejection) {
    EXPECT_EQ(SendRaw("SB1;SB2;MG @OUT[2];"), " 1.0000\r\n");
    EXPECT_THROW(Send("SB3;XX;SB4"), MotionError);
    EXPECT_TRUE(machine->Output(3));
    EXPECT_FALSE(machine->Output(4));
    EXPECT_EQ(Send("TC1"), "1 Unrecognized command");
    // A line feed inside a request is white space.
    EXPECT_EQ(Send("MG\n_CN"), "-1.0000");
}

TEST_F(CommandTest, RejectsAnythingElseAndSaysWhy) {
    const std::pair<const char*, const char*> cases[] = {
        {"XYZ", "1 Unrecognized command"},      {"sp*=?", "1 Unrecognized command"},
        {"\x01\x02", "1 Unrecognized command"}, {"SP*=abc", "2 Invalid argument"},
        {"SP1,2,3,4,5", "2 Invalid argument"},  {"SP", "2 Invalid argument"},
        {"SPQ=5", "2 Invalid argument"},        {"SP*=-1", "3 Number out of range"},
        {"PT*=2", "3 Number out of range"},     {"TL*=1e3", "2 Invalid argument"},
        {"SB0", "2 Invalid argument"},          {"SB17", "2 Invalid argument"},
        {"CN0", "2 Invalid argument"},          {"MG _XX", "2 Invalid argument"},
        {"MG @OUT[0]", "2 Invalid argument"},   {"TPQ", "2 Invalid argument"},
        {"AB2", "2 Invalid argument"},          {"QR IXQ", "2 Invalid argument"},
        {"UL 5", "2 Invalid argument"},
    };
    for (const auto& [command, reason] : cases) {
        EXPECT_THROW(Send(command), MotionError) << command;
        EXPECT_EQ(Send("TC1"), reason) << command;
    }
    EXPECT_EQ(Send("TC0"), "2");
}

TEST_F(CommandTest, ErrorNumbersBelongToTheirSession) {
    auto other = MakeInProcessClient(machine);
    EXPECT_THROW(Send("FOO"), MotionError);
    EXPECT_EQ(other->command("TC1", "\r", ":", true), "0 No error");
}

TEST_F(CommandTest, DataRecordHasItsLayout) {
    PrepareLikeTheTest();
    Send("CB1");
    Send("SB16");
    Send("MOW");
    Send("DP5,-6,7,8");
    Send("PAY=-20000");
    Advance(std::chrono::milliseconds(500));
    const std::vector<char> bytes = client->record("QR IXYZW");
    ASSERT_EQ(bytes.size(), record::kMinimumSize);
    const auto u8 = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
    const auto u16 = [&](std::size_t at) { return u8(at) | (u8(at + 1) << 8); };
    const auto i32 = [&](std::size_t at) {
        std::int32_t value;
        std::memcpy(&value, bytes.data() + at, 4);  // the test machine is little-endian
        return value;
    };
    EXPECT_EQ(u16(record::kLengthOffset), 152);
    EXPECT_EQ(u16(10), 0x8006);  // outputs 2, 3 and 16
    const std::size_t x = record::AxisBlockOffset(0);
    const std::size_t y = record::AxisBlockOffset(1);
    const std::size_t w = record::AxisBlockOffset(3);
    EXPECT_EQ(u16(x + record::kStatusWord), 0);
    EXPECT_EQ(i32(x + record::kMotorPosition), 5);
    EXPECT_EQ(u16(y + record::kStatusWord), record::kStatusMoving);
    const AxisState yState = machine->ReadAxis(1);
    EXPECT_EQ(i32(y + record::kReferencePosition), yState.referencePosition);
    EXPECT_EQ(i32(y + record::kMotorPosition), yState.motorPosition);
    EXPECT_EQ(i32(y + record::kPositionError), yState.positionError);
    EXPECT_EQ(i32(y + record::kVelocity), yState.velocity);
    EXPECT_LT(yState.positionError, -50);
    EXPECT_EQ(static_cast<std::int16_t>(u16(y + record::kTorque)),
              static_cast<std::int16_t>(std::lround(yState.torque * 3276.7)));
    EXPECT_EQ(u16(w + record::kStatusWord), record::kStatusMotorOff);
    EXPECT_EQ(u8(w + record::kSwitches), 0);

    Send("CN1");
    const std::vector<char> swapped = client->record("QR IXYZW");
    EXPECT_EQ(static_cast<unsigned char>(swapped[w + record::kSwitches]),
              record::kSwitchForwardLimit | record::kSwitchReverseLimit);
}

TEST_F(CommandTest, StoppedBitAndStopCodeShowAnAbort) {
    PrepareLikeTheTest();
    Send("PAX=-20000");
    Advance(std::chrono::milliseconds(300));
    Send("AB1");
    Advance(std::chrono::milliseconds(100));
    const std::vector<char> bytes = client->record("QR IXYZW");
    const std::size_t x = record::AxisBlockOffset(0);
    EXPECT_EQ(static_cast<unsigned char>(bytes[x + record::kStatusWord]), record::kStatusStopped);
    EXPECT_EQ(static_cast<unsigned char>(bytes[x + record::kStopCode]), kStopAborted);
    EXPECT_EQ(Send("MG _SCX"), "4.0000");
}

TEST_F(CommandTest, UploadAndIdentity) {
    EXPECT_EQ(client->programUpload(), "#AUTO\nMG \"READY\"\nSB7\nEN\n");
    machine->SetStoredProgram("#A\nJP #A\n");
    EXPECT_EQ(client->programUpload(), "#A\nJP #A\n");
    machine->SetStoredProgram("");
    EXPECT_EQ(client->programUpload(), "");
    EXPECT_EQ(client->connection(),
              "127.0.0.1:23 Trevane simulated controller, 4 axes, firmware 1.0");
    // Neither the record nor the identity request counts as a command.
    client->record("QR IXYZW");
    EXPECT_EQ(machine->ReceivedCommands(), (std::vector<std::string>{"UL", "UL", "UL"}));
    EXPECT_EQ(machine->Received().size(), 5u);
}

}  // namespace
}  // namespace trevane::sim::testing
