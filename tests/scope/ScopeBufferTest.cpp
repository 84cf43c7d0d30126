#include <vector>

#include <gtest/gtest.h>

#include "scope/ScopeBuffer.h"
#include "scope/ScopeTime.h"

namespace trevane::testing {
namespace {

using scope::Point;
using scope::ScopeBuffer;

std::vector<Point> ReadAll(const ScopeBuffer& buffer, std::size_t channel) {
    std::vector<Point> points;
    buffer.Read(channel, Ms(0), Ms(100'000'000), points);
    return points;
}

TEST(ScopeBufferTest, AFullRingDropsTheOldestRecordsAndKeepsTheOrder) {
    ScopeBuffer buffer(5);
    for (int i = 0; i < 12; ++i) {
        scope::RecordValues values = Filled(i);
        values[51] = -i;
        buffer.AddValues(Ms(10 * i), values);
    }
    EXPECT_EQ(buffer.Size(), 5u);
    EXPECT_EQ(buffer.Oldest(), Ms(70));
    EXPECT_EQ(buffer.Latest(), Ms(110));
    const std::vector<Point> points = ReadAll(buffer, 51);
    ASSERT_EQ(points.size(), 5u);
    for (std::size_t i = 0; i < points.size(); ++i) {
        EXPECT_EQ(points[i].value, -(7 + static_cast<int>(i)));
        EXPECT_EQ(points[i].joined, i > 0) << "the first point's predecessor was dropped";
    }
    // A range inside the ring, bounds included.
    std::vector<Point> middle;
    buffer.Read(0, Ms(80), Ms(100), middle);
    ASSERT_EQ(middle.size(), 3u);
    EXPECT_EQ(middle.front().value, 8);
    EXPECT_TRUE(middle.front().joined) << "its predecessor is held, just outside the range";
    EXPECT_EQ(buffer.Rows(Ms(100), Ms(200)).size(), 2u);
}

TEST(ScopeBufferTest, AFailedPollOrASilenceBreaksTheLine) {
    ScopeBuffer buffer(100);
    buffer.AddValues(Ms(1000), Filled(1));
    buffer.AddValues(Ms(1010), Filled(2));
    buffer.AddGap(Ms(1020));
    buffer.AddGap(Ms(1030));  // a link that keeps failing takes one entry
    buffer.AddValues(Ms(1040), Filled(3));
    buffer.AddValues(Ms(1140), Filled(4));  // 100 ms: still one line
    buffer.AddValues(Ms(1241), Filled(5));  // longer: the table would be grey by now
    EXPECT_EQ(buffer.Size(), 6u);
    EXPECT_EQ(buffer.Latest(), Ms(1241));

    const std::vector<Point> points = ReadAll(buffer, 7);
    ASSERT_EQ(points.size(), 5u) << "a gap is no point";
    const bool joined[] = {false, true, false, true, false};
    for (std::size_t i = 0; i < points.size(); ++i) {
        EXPECT_EQ(points[i].value, static_cast<int>(i) + 1);
        EXPECT_EQ(points[i].joined, joined[i]) << "point " << i;
    }
    EXPECT_EQ(buffer.Rows(Ms(0), Ms(2000)).size(), 5u);

    // A test that puts in another clock starts the buffer afresh rather than unsorted.
    buffer.AddValues(Ms(500), Filled(9));
    EXPECT_EQ(buffer.Size(), 1u);
    EXPECT_EQ(buffer.Oldest(), Ms(500));
}

TEST(ScopeBufferTest, TenMinutesAtThePollRateFitInSixteenMebibytes) {
    ScopeBuffer buffer;
    EXPECT_LE(buffer.MemoryBytes(), scope::kMemoryBound);
    const std::size_t tenMinutes = 10 * 60 * 100;
    ASSERT_GE(buffer.Capacity(), tenMinutes);

    // Half an hour of polls, with a failure now and then: the ring never grows.
    const std::size_t polls = 3 * tenMinutes;
    for (std::size_t i = 0; i < polls; ++i) {
        if (i % 997 == 0) {
            buffer.AddGap(Ms(10 * static_cast<long long>(i)));
        } else {
            buffer.AddValues(Ms(10 * static_cast<long long>(i)),
                             Filled(static_cast<std::int32_t>(i)));
        }
    }
    EXPECT_EQ(buffer.Size(), buffer.Capacity());
    EXPECT_LE(buffer.MemoryBytes(), scope::kMemoryBound);
    EXPECT_GE(*buffer.Latest() - *buffer.Oldest(), std::chrono::minutes(10));
    std::vector<Point> lastMinute;
    buffer.Read(3, *buffer.Latest() - std::chrono::seconds(60), *buffer.Latest(), lastMinute);
    EXPECT_GE(lastMinute.size(), 5990u);
    EXPECT_EQ(lastMinute.back().value, static_cast<std::int32_t>(polls - 1));
}

}  // namespace
}  // namespace trevane::testing
