#include <condition_variable>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/QueuedOutput.h"

namespace trevane {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;

// A destination that takes nothing until it is opened, as a pipe whose reader stopped; what it
// took is kept for the test, which may outlive the output that wrote it.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int calls = 0;
    std::string taken;

    void Open() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
    // True once a write is held at the gate.
    bool Holding() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [this] { return calls > 0; });
    }
};

BatchWrite Through(const std::shared_ptr<Gate>& gate) {
    return [gate](std::string_view bytes) -> std::optional<std::string> {
        std::unique_lock lock(gate->mutex);
        ++gate->calls;
        gate->changed.notify_all();
        gate->changed.wait(lock, [&gate] { return gate->open; });
        gate->taken += bytes;
        gate->changed.notify_all();
        return std::nullopt;
    };
}

TEST(QueuedOutputTest, WritesEverythingInOrderOnceItIsClosed) {
    auto gate = std::make_shared<Gate>();
    gate->Open();
    {
        QueuedOutput output(Through(gate), {100, 1000});
        for (int line = 0; line < 50; ++line) {
            EXPECT_TRUE(output.Push(std::to_string(line) + "\n"));
        }
        const OutputTally tally = output.Close(10s);
        EXPECT_TRUE(tally.Whole());
        EXPECT_EQ(tally.itemsWritten, 50u);
    }
    std::string expected;
    for (int line = 0; line < 50; ++line) {
        expected += std::to_string(line) + "\n";
    }
    EXPECT_EQ(gate->taken, expected);
}

// The writer is stuck: pushes never wait, what does not fit is counted, and Close gives up after
// its bound with everything unwritten counted as lost. The stuck thread ends on its own later
// and touches nothing of the output that is gone by then.
TEST(QueuedOutputTest, AStuckWriterCostsLinesNeverTheCaller) {
    auto gate = std::make_shared<Gate>();
    auto output = std::make_unique<QueuedOutput>(Through(gate), QueueBound{3, 1000});
    ASSERT_TRUE(output->Push("first\n"));
    ASSERT_TRUE(gate->Holding());  // "first" is in the write that hangs

    // Pushed from another thread, which must come back whatever the writer does.
    auto pushes = std::async(std::launch::async, [&output] {
        int accepted = 0;
        for (int line = 0; line < 10; ++line) {
            accepted += output->Push("line\n") ? 1 : 0;
        }
        return accepted;
    });
    ASSERT_EQ(pushes.wait_for(10s), std::future_status::ready) << "a push waited for the writer";
    EXPECT_EQ(pushes.get(), 3);
    OutputTally tally = output->Tally();
    EXPECT_EQ(tally.itemsLost, 7u);
    EXPECT_THAT(tally.firstFailure.value_or(""), HasSubstr("fell behind by more than 3 lines"));
    EXPECT_FALSE(output->Drain(20ms));

    tally = output->Close(50ms);
    EXPECT_EQ(tally.itemsWritten, 0u);
    EXPECT_EQ(tally.itemsLost, 11u) << "7 refused, 3 queued and the one being written";
    EXPECT_FALSE(output->Push("late\n"));
    output.reset();

    gate->Open();
    std::unique_lock lock(gate->mutex);
    ASSERT_TRUE(gate->changed.wait_for(lock, 10s, [&gate] { return gate->taken == "first\n"; }));
    EXPECT_EQ(gate->calls, 1) << "nothing was written after Close gave up";
}

TEST(QueuedOutputTest, AFailedWriteCountsItsLinesAndIsToldOnce) {
    int calls = 0;
    QueuedOutput output(
        [&calls](std::string_view) -> std::optional<std::string> {
            ++calls;
            return std::string("Broken pipe");
        },
        {100, 1000});
    output.Push("a\n", 1);
    ASSERT_TRUE(output.Drain(10s));
    EXPECT_TRUE(output.WriteFailed());
    output.Push("b\n", 1);
    output.Push("c\n", 1);
    const OutputTally tally = output.Close(10s);
    EXPECT_EQ(tally.itemsLost, 3u);
    EXPECT_EQ(tally.bytesLost, 6u);
    EXPECT_EQ(tally.firstFailure, "Broken pipe");
    EXPECT_GE(calls, 2);
}

TEST(QueuedOutputTest, OneItemLargerThanTheBoundStillFitsAnEmptyQueue) {
    auto gate = std::make_shared<Gate>();
    gate->Open();
    QueuedOutput output(Through(gate), {10, 8});
    EXPECT_TRUE(output.Push(std::string(100, 'x')));
    ASSERT_TRUE(output.Drain(10s));
    EXPECT_TRUE(output.Close(10s).Whole());
    EXPECT_EQ(gate->taken.size(), 100u);
}

}  // namespace
}  // namespace trevane
