#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "autotest/TestRunner.h"
#include "common/CLocale.h"
#include "console/StatusMonitor.h"
#include "link/WindowOps.h"
#include "machine/Jog.h"
#include "machine/Procedures.h"
#include "support/LinkFixture.h"

namespace trevane::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A data record built field by field, little-endian as the controller sends it.
class RecordBuilder {
  public:
    explicit RecordBuilder(std::size_t size = record::kMinimumSize) : bytes_(size, 0) {}

    RecordBuilder& Bytes(int axis, std::size_t offset, std::vector<std::uint8_t> values) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            bytes_[record::AxisBlockOffset(axis) + offset + i] = static_cast<char>(values[i]);
        }
        return *this;
    }
    RecordBuilder& Int32(int axis, std::size_t offset, std::int32_t value) {
        const auto bits = static_cast<std::uint32_t>(value);
        return Bytes(
            axis, offset,
            {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
             static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)});
    }
    RecordBuilder& Uint16(int axis, std::size_t offset, unsigned value) {
        return Bytes(axis, offset,
                     {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)});
    }
    std::vector<char> Build() const { return bytes_; }

  private:
    std::vector<char> bytes_;
};

// Keeps the order of the cell writes, which the plain recording window does not.
class OrderedCellWindow : public SpyWindow {
  public:
    void SetStatusCell(int row, int column, const std::string& text) override {
        {
            std::lock_guard lock(mutex_);
            writes_.emplace_back(row, column);
        }
        SpyWindow::SetStatusCell(row, column, text);
    }
    std::vector<std::pair<int, int>> Writes() const {
        std::lock_guard lock(mutex_);
        return writes_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::pair<int, int>> writes_;
};

// Columns 1..4 of the table, axis by axis.
std::vector<std::string> TableOf(const SpyWindow& window) {
    std::vector<std::string> texts;
    for (int column = 1; column <= 4; ++column) {
        for (int row = 0; row < 13; ++row) {
            texts.push_back(window.Cell(row, column));
        }
    }
    return texts;
}

class StatusMonitorTest : public ScriptedLinkTest {
  protected:
    StatusMonitorTest() { window_ = orderedWindow_; }

    std::vector<std::string> Column(int column) const {
        std::vector<std::string> texts;
        for (int row = 0; row < 13; ++row) {
            texts.push_back(window_->Cell(row, column));
        }
        return texts;
    }
    std::vector<std::string> FlagRows(int column) const {
        const std::vector<std::string> texts = Column(column);
        return {texts.begin() + 8, texts.end()};
    }
    std::vector<std::string> Table() const { return TableOf(*window_); }

    std::shared_ptr<OrderedCellWindow> orderedWindow_ = std::make_shared<OrderedCellWindow>();
};

TEST_F(StatusMonitorTest, DecodesEveryFieldOfEachAxisIntoItsOwnColumn) {
    using namespace record;
    RecordBuilder builder;
    for (int axis = 0; axis < 4; ++axis) {
        builder.Int32(axis, kReferencePosition, 1000 * (axis + 1))
            .Int32(axis, kMotorPosition, -2000 * (axis + 1))
            .Int32(axis, kPositionError, axis)
            .Int32(axis, kAuxPosition, 2147483647 - axis)
            .Int32(axis, kVelocity, -2147483647 - 1 + axis)
            .Uint16(axis, kTorque, 0x7FFF - axis)
            .Uint16(axis, kAnalog, 0x0100 + axis)
            .Bytes(axis, kStopCode, {static_cast<std::uint8_t>(10 + axis)});
    }
    controller_->SetRecord(builder.Build());
    Connect();

    ASSERT_TRUE(UpdateStatusTable());
    EXPECT_THAT(Column(1), ElementsAre("1000", "-2000", "0", "2147483647", "-2147483648", "32767",
                                       "256", "10", "0", "0", "0", "0", "0"));
    EXPECT_THAT(Column(4), ElementsAre("4000", "-8000", "3", "2147483644", "-2147483645", "32764",
                                       "259", "13", "0", "0", "0", "0", "0"));
}

TEST_F(StatusMonitorTest, ReadsSixteenBitFieldsAsSignedAndTheStopCodeAsUnsigned) {
    using namespace record;
    controller_->SetRecord(RecordBuilder()
                               .Bytes(1, kTorque, {0xFF, 0xFF})
                               .Bytes(1, kAnalog, {0x00, 0x80})
                               .Bytes(1, kStopCode, {0xFF})
                               .Build());
    Connect();
    ASSERT_TRUE(UpdateStatusTable());
    EXPECT_EQ(window_->Cell(5, 2), "-1");
    EXPECT_EQ(window_->Cell(6, 2), "-32768");
    EXPECT_EQ(window_->Cell(7, 2), "255");
}

TEST_F(StatusMonitorTest, ShowsTheRawStatusAndSwitchBitsAndNoOthers) {
    using namespace record;
    controller_->SetRecord(RecordBuilder()
                               .Uint16(0, kStatusWord, 0x8011)
                               .Bytes(0, kSwitches, {0x0C})
                               .Uint16(2, kStatusWord, 0x7FEE)
                               .Bytes(2, kSwitches, {0xF3})
                               .Build());
    Connect();
    ASSERT_TRUE(UpdateStatusTable());
    // Rows 8..12: forward limit, reverse limit, moving, stopped, motor off.
    EXPECT_THAT(FlagRows(1), ElementsAre("1", "1", "1", "1", "1"));
    EXPECT_THAT(FlagRows(3), ElementsAre("0", "0", "0", "0", "0"));

    for (unsigned bit = 0; bit < 16; ++bit) {
        EXPECT_EQ(g_axisStatusFlags[0][bit], ((0x8011U >> bit) & 1U) != 0) << "bit " << bit;
        EXPECT_EQ(g_axisStatusFlags[2][bit], ((0x7FEEU >> bit) & 1U) != 0) << "bit " << bit;
    }
    for (unsigned bit = 0; bit < 8; ++bit) {
        EXPECT_EQ(g_axisSwitchFlags[0][bit], ((0x0CU >> bit) & 1U) != 0) << "bit " << bit;
        EXPECT_EQ(g_axisSwitchFlags[2][bit], ((0xF3U >> bit) & 1U) != 0) << "bit " << bit;
    }
}

TEST_F(StatusMonitorTest, WritesAllFiftyTwoCellsAxisByAxisOnEveryPoll) {
    controller_->SetRecord(RecordBuilder().Build());
    Connect();
    ASSERT_TRUE(UpdateStatusTable());
    ASSERT_TRUE(UpdateStatusTable());

    std::vector<std::pair<int, int>> expected;
    for (int poll = 0; poll < 2; ++poll) {
        for (int column = 1; column <= 4; ++column) {
            for (int row = 0; row < 13; ++row) {
                expected.emplace_back(row, column);
            }
        }
    }
    EXPECT_EQ(orderedWindow_->Writes(), expected);
    // Polls go to the record session only.
    EXPECT_THAT(controller_->Commands(), IsEmpty());
    for (const auto& request : controller_->RecordRequests()) {
        EXPECT_EQ(request.session, 1);
        EXPECT_EQ(request.line, "QR IXYZW");
    }
}

TEST_F(StatusMonitorTest, AFailedOrShortRecordLeavesTheTableAndTheRecordAsTheyWere) {
    using namespace record;
    const std::vector<char> good = RecordBuilder().Int32(0, kReferencePosition, 42).Build();
    controller_->SetRecord(good);
    Connect();
    ASSERT_TRUE(UpdateStatusTable());
    const std::vector<std::string> before = Table();
    const auto recordBefore = g_record;

    controller_->FailRecord();
    EXPECT_FALSE(UpdateStatusTable());
    EXPECT_EQ(Table(), before);

    // One byte short: the last byte would be the W axis's analog input.
    std::vector<char> shortRecord = RecordBuilder().Int32(0, kReferencePosition, 7).Build();
    shortRecord.pop_back();
    controller_->SetRecord(shortRecord);
    EXPECT_FALSE(UpdateStatusTable());
    EXPECT_EQ(Table(), before);
    EXPECT_EQ(g_record, recordBefore);
    EXPECT_EQ(controller_->RecordRequests().size(), 3U);
}

TEST_F(StatusMonitorTest, MakesNoRequestWithoutAConnection) {
    controller_->SetRecord(RecordBuilder().Build());
    EXPECT_FALSE(UpdateStatusTable());
    OnTimer(IDT_STATUS);

    // Sessions left open by a Connect that failed late still do not poll.
    Connect();
    g_connected = false;
    OnTimer(IDT_STATUS);
    EXPECT_THAT(controller_->RecordRequests(), IsEmpty());
    EXPECT_THAT(Table(), ::testing::Each(""));
}

TEST_F(StatusMonitorTest, TimerIdsChooseThePollOrTheProgress) {
    controller_->SetRecord(RecordBuilder().Build());
    Connect();
    g_testProgress = 70;
    OnTimer(3);
    EXPECT_THAT(controller_->RecordRequests(), IsEmpty());
    EXPECT_EQ(window_->Progress(), 0);

    OnTimer(IDT_PROGRESS);
    EXPECT_EQ(window_->Progress(), 70);
    EXPECT_THAT(controller_->RecordRequests(), IsEmpty());

    OnTimer(IDT_STATUS);
    EXPECT_EQ(controller_->RecordRequests().size(), 1U);
    g_testProgress = 0;
}

class StatusOfTheMachineTest : public SimulatedLinkTest {
  protected:
    std::vector<std::string> Table() const { return TableOf(*window_); }
};

TEST_F(StatusOfTheMachineTest, TheTableShowsTheMachineAsItJogsAndKeepsItOnAShortRecord) {
    Connect();
    EnableMachine();
    PrepareMotion();
    Jog({1, 0, 0, 0}, -500);
    Advance(std::chrono::milliseconds(500));
    ASSERT_TRUE(UpdateStatusTable());

    const sim::AxisState x = machine_->ReadAxis(0);
    EXPECT_LT(x.velocity, 0);
    EXPECT_EQ(window_->Cell(0, 1), FormatInt(x.referencePosition));
    EXPECT_EQ(window_->Cell(1, 1), FormatInt(x.motorPosition));
    EXPECT_EQ(window_->Cell(2, 1), FormatInt(x.positionError));
    EXPECT_EQ(window_->Cell(4, 1), FormatInt(x.velocity));
    EXPECT_EQ(window_->Cell(10, 1), "1") << "X moving";
    EXPECT_EQ(window_->Cell(10, 2), "0") << "Y still";
    EXPECT_EQ(window_->Cell(12, 2), "0") << "servo on after Prepare Motion";

    const std::vector<std::string> shown = Table();
    machine_->AddFault(sim::ParseFault("short-record"));
    Advance(std::chrono::milliseconds(500));
    EXPECT_FALSE(UpdateStatusTable());
    EXPECT_EQ(Table(), shown);
}

}  // namespace
}  // namespace trevane::testing
