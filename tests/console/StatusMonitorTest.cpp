#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/CLocale.h"
#include "common/Clock.h"
#include "console/StatusMonitor.h"
#include "link/Operator.h"
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

// Keeps every table the monitor showed, which the plain recording window does not.
class TableKeepingWindow : public SpyWindow {
  public:
    void ShowStatus(const StatusTable& values) override {
        {
            std::lock_guard lock(mutex_);
            tables_.push_back(values);
        }
        SpyWindow::ShowStatus(values);
    }
    std::vector<StatusTable> Tables() const {
        std::lock_guard lock(mutex_);
        return tables_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<StatusTable> tables_;
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
    StatusMonitorTest() { window_ = tableWindow_; }

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

    std::shared_ptr<TableKeepingWindow> tableWindow_ = std::make_shared<TableKeepingWindow>();
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
}

TEST_F(StatusMonitorTest, ShowsAllFiftyTwoValuesOnEveryPoll) {
    using namespace record;
    controller_->SetRecord(RecordBuilder().Build());
    Connect();
    ASSERT_TRUE(UpdateStatusTable());
    controller_->SetRecord(RecordBuilder().Int32(3, kReferencePosition, 9).Build());
    ASSERT_TRUE(UpdateStatusTable());

    const std::vector<StatusTable> tables = tableWindow_->Tables();
    ASSERT_EQ(tables.size(), 2U);
    for (const StatusTable& table : tables) {
        for (const auto& axis : table) {
            EXPECT_THAT(axis, ::testing::Each(::testing::Not(IsEmpty())));
        }
    }
    EXPECT_EQ(tables[0][3][0], "0");
    EXPECT_EQ(tables[1][3][0], "9");
    EXPECT_EQ(window_->Cell(0, 4), "9");
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
    const auto recordBefore = TheController().Monitor().Record();

    controller_->FailRecord();
    EXPECT_FALSE(UpdateStatusTable());
    EXPECT_EQ(Table(), before);

    // One byte short: the last byte would be the W axis's analog input.
    std::vector<char> shortRecord = RecordBuilder().Int32(0, kReferencePosition, 7).Build();
    shortRecord.pop_back();
    controller_->SetRecord(shortRecord);
    EXPECT_FALSE(UpdateStatusTable());
    EXPECT_EQ(Table(), before);
    EXPECT_EQ(TheController().Monitor().Record(), recordBefore);
    EXPECT_EQ(controller_->RecordRequests().size(), 3U);
}

// Polls 10 ms apart on a virtual clock, the scope watching: each failed poll, a refused
// request or a short record, breaks the line, so the last good values are not drawn across it.
TEST_F(StatusMonitorTest, AFailedPollLeavesAGapInTheScope) {
    using namespace record;
    auto clock = std::make_shared<VirtualClock>();
    SetSystemClock(clock);
    scope::ScopeBuffer& scope = TheController().Monitor().Scope();
    Connect();
    std::vector<char> shortRecord = RecordBuilder().Int32(0, kReferencePosition, 9).Build();
    shortRecord.pop_back();
    int position = 0;
    const auto poll = [&](bool fails, bool isShort = false) {
        if (isShort) {
            controller_->SetRecord(shortRecord);
        } else if (fails) {
            controller_->FailRecord();
        } else {
            controller_->SetRecord(
                RecordBuilder().Int32(0, kReferencePosition, ++position).Build());
        }
        EXPECT_EQ(UpdateStatusTable(), !fails && !isShort);
        clock->Advance(std::chrono::milliseconds(10));
    };
    poll(false);
    poll(false);
    poll(true);
    poll(false);
    poll(false, true);
    poll(false);
    poll(false);

    std::vector<scope::Point> points;
    const std::size_t xReference = scope::Channel{0, scope::kRefPos}.Index();
    scope.Read(xReference, *scope.Oldest(), *scope.Latest(), points);
    ASSERT_EQ(points.size(), 5u);
    std::vector<std::pair<std::int32_t, bool>> drawn;
    for (const scope::Point& point : points) {
        drawn.emplace_back(point.value, point.joined);
    }
    EXPECT_THAT(drawn, ElementsAre(std::pair{1, false}, std::pair{2, true}, std::pair{3, false},
                                   std::pair{4, false}, std::pair{5, true}));
}

TEST_F(StatusMonitorTest, MakesNoRequestWithoutAConnection) {
    controller_->SetRecord(RecordBuilder().Build());
    EXPECT_FALSE(UpdateStatusTable());

    // Sessions left open by a Connect that failed late still do not poll.
    controller_->FailConnection();
    OnConnect();
    ASSERT_FALSE(Connected());
    ASSERT_TRUE(Link().RecordSession());
    EXPECT_FALSE(UpdateStatusTable());
    EXPECT_THAT(controller_->RecordRequests(), IsEmpty());
    EXPECT_THAT(Table(), ::testing::Each(""));
}

class StatusOfTheMachineTest : public SimulatedLinkTest {
  protected:
    std::vector<std::string> Table() const { return TableOf(*window_); }
};

TEST_F(StatusOfTheMachineTest, TheTableShowsTheMachineAsItJogsAndKeepsItOnAShortRecord) {
    Connect();
    EnableMachine(Link());
    PrepareMotion(Link());
    Jog(Link(), {1, 0, 0, 0}, -500);
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
