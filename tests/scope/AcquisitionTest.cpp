#include <chrono>
#include <functional>

#include <gtest/gtest.h>

#include "scope/Acquisition.h"
#include "scope/ScopeTime.h"

namespace trevane::testing {
namespace {

using namespace std::chrono_literals;
using scope::Acquisition;
using scope::Edge;
using scope::Frame;

constexpr std::size_t kChannel = 4;  // X velocity

// Polls every 10 ms from `from` to `to` ms, the channel reading shape(ms).
void Feed(scope::ScopeBuffer& buffer, long long from, long long to,
          const std::function<int(long long)>& shape) {
    for (long long ms = from; ms <= to; ms += 10) {
        scope::RecordValues values = Filled(0);
        values[kChannel] = shape(ms);
        buffer.AddValues(Ms(ms), values);
    }
}

// A jog that reaches 5000 counts/s at 1 s and stops again at 3 s.
int Jog(long long ms) {
    return ms >= 1000 && ms < 3000 ? 5000 : 0;
}

TEST(AcquisitionTest, FreeRunningFollowsTheNewestRecordAndStopFreezes) {
    scope::ScopeBuffer buffer;
    Acquisition acquisition(2s);
    Feed(buffer, 0, 5000, Jog);
    Frame frame = acquisition.Update(buffer, Ms(5000));
    EXPECT_EQ(frame.start, Ms(3000));
    EXPECT_EQ(frame.end, Ms(5000));
    EXPECT_EQ(frame.origin, Ms(5000));
    EXPECT_FALSE(frame.triggered);

    acquisition.Stop();
    Feed(buffer, 5010, 6000, Jog);
    EXPECT_EQ(acquisition.Update(buffer, Ms(6000)).end, Ms(5000));
    acquisition.Run(Ms(6000));
    EXPECT_EQ(acquisition.Update(buffer, Ms(6000)).end, Ms(6000));
}

TEST(AcquisitionTest, ASingleShotFiresOnceWithAQuarterOfTheSpanBeforeTheTrigger) {
    scope::ScopeBuffer buffer;
    Acquisition acquisition(2s);
    acquisition.SetTrigger(scope::Trigger{kChannel, 2500, Edge::Rising}, Ms(0));
    acquisition.Single(Ms(0));
    Feed(buffer, 0, 900, Jog);
    acquisition.Update(buffer, Ms(900));
    EXPECT_EQ(acquisition.GetState(), Acquisition::State::Armed);
    EXPECT_EQ(acquisition.Fired(), 0);

    Feed(buffer, 910, 1200, Jog);
    Frame frame = acquisition.Update(buffer, Ms(1200));
    EXPECT_EQ(acquisition.Fired(), 1);
    EXPECT_TRUE(frame.triggered);
    EXPECT_EQ(frame.origin, Ms(1000));
    EXPECT_EQ(frame.start, Ms(500));
    EXPECT_EQ(frame.end, Ms(2500));
    EXPECT_EQ(acquisition.GetState(), Acquisition::State::Capturing);

    // Once the frame is whole the scope stops; the next jog does not fire it again.
    Feed(buffer, 1210, 6000, [](long long ms) { return Jog(ms % 3000); });
    frame = acquisition.Update(buffer, Ms(6000));
    EXPECT_EQ(acquisition.GetMode(), Acquisition::Mode::Stop);
    EXPECT_EQ(acquisition.Fired(), 1);
    EXPECT_EQ(frame.origin, Ms(1000));
}

TEST(AcquisitionTest, RunHoldsEachFrameUntilTheNextEdgeOfItsDirection) {
    scope::ScopeBuffer buffer;
    Acquisition acquisition(1s);
    acquisition.SetTrigger(scope::Trigger{kChannel, 2500, Edge::Falling}, Ms(0));
    Feed(buffer, 0, 2000, Jog);
    acquisition.Update(buffer, Ms(2000));
    EXPECT_EQ(acquisition.Fired(), 0) << "the rising edge at 1 s is not a falling one";

    Feed(buffer, 2010, 5000, Jog);
    Frame frame = acquisition.Update(buffer, Ms(5000));
    EXPECT_EQ(acquisition.Fired(), 1);
    EXPECT_EQ(frame.origin, Ms(3000));
    EXPECT_EQ(frame.start, Ms(2750));
    EXPECT_EQ(acquisition.GetState(), Acquisition::State::Armed) << "re-armed after the frame";

    // A drop across a failed poll is no edge: the link, not the machine, was silent.
    buffer.AddValues(Ms(5010), [] {
        scope::RecordValues values = Filled(0);
        values[kChannel] = 5000;
        return values;
    }());
    buffer.AddGap(Ms(5020));
    Feed(buffer, 5030, 6000, [](long long) { return 0; });
    EXPECT_EQ(acquisition.Update(buffer, Ms(6000)).origin, Ms(3000)) << "the frame is held";

    Feed(buffer, 6010, 9000, [](long long ms) { return ms < 7000 ? 5000 : 0; });
    frame = acquisition.Update(buffer, Ms(9000));
    EXPECT_EQ(acquisition.Fired(), 2);
    EXPECT_EQ(frame.origin, Ms(7000));
}

}  // namespace
}  // namespace trevane::testing
