#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/ScratchFolder.h"
#include "support/StalledFifo.h"
#include "traffic/TraceWriter.h"
#include "traffic/TrafficRecorder.h"

namespace trevane {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;

TrafficEntry Exchange(const std::string& request) {
    TrafficEntry entry;
    entry.time = std::chrono::system_clock::now();
    entry.request = request;
    entry.reply = "1234";
    entry.acknowledgement = ":";
    return entry;
}

int ThreadCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

using testing::StalledFifo;

class TraceWriterTest : public ::testing::Test {
  protected:
    testing::ScratchFolder scratch_{"trevane-trace"};
    TrafficRecorder recorder_;
};

TEST_F(TraceWriterTest, EveryExchangeIsInTheFileAfterTheHeader) {
    const std::string path = (scratch_.Path() / "trace.txt").string();
    TraceWriter trace(recorder_);
    ASSERT_EQ(trace.Start(path), std::nullopt);
    for (int i = 0; i < 100; ++i) {
        recorder_.Add(Exchange("TP" + std::to_string(i)));
    }
    EXPECT_EQ(trace.Stop(), std::nullopt);
    const std::string text = testing::ReadFile(path);
    EXPECT_TRUE(text.starts_with(std::string(kTraceHeader) + "\n"));
    EXPECT_THAT(text, HasSubstr("\tTP0\t"));
    EXPECT_THAT(text, HasSubstr("\tTP99\t"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 101);

    const std::string folder = scratch_.Path().string();
    const std::optional<std::string> refused = trace.Start(folder);
    ASSERT_TRUE(refused.has_value());
    EXPECT_THAT(*refused, HasSubstr("it is a folder"));
    EXPECT_FALSE(trace.Recording());
}

// The reader of the trace stopped: no exchange waits for it, the queue's overflow is counted, Stop
// gives up on the stuck write within its bound and says how many lines are missing, and the
// stuck thread ends by itself once its write fails, without SIGPIPE ending the program.
TEST_F(TraceWriterTest, AStalledReaderCostsLinesNotExchangesAndStopIsBounded) {
    StalledFifo fifo(scratch_.Path() / "fifo");
    ASSERT_TRUE(fifo.Ready());
    // ThreadSanitizer starts a thread of its own with the program's second one: counted before.
    std::thread([] {}).join();
    const int threadsBefore = ThreadCount();
    auto trace = std::make_unique<TraceWriter>(recorder_);
    ASSERT_EQ(trace->Start(fifo.Path()), std::nullopt) << "a slow pipe is recorded to";

    constexpr int kExchanges = static_cast<int>(TraceWriter::kQueueBound.items) + 1000;
    auto exchanges = std::async(std::launch::async, [this] {
        for (int i = 0; i < kExchanges; ++i) {
            recorder_.Add(Exchange("TPX"));
        }
    });
    ASSERT_EQ(exchanges.wait_for(20s), std::future_status::ready)
        << "an exchange waited for the trace";
    EXPECT_GE(trace->LinesLost(), 1000u);
    EXPECT_EQ(trace->LinesWritten(), 0u);

    const std::optional<std::string> stopped = trace->Stop();
    ASSERT_TRUE(stopped.has_value());
    EXPECT_THAT(*stopped, HasSubstr("'" + fifo.Path() + "': "));
    EXPECT_THAT(*stopped, HasSubstr(" (" + std::to_string(kExchanges) +
                                    " exchange line(s) not written)"));
    trace.reset();
    recorder_.Add(Exchange("after"));  // nobody listens any more

    fifo.ReaderGoes();
    for (int poll = 0; poll < 1000 && ThreadCount() > threadsBefore; ++poll) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(ThreadCount(), threadsBefore) << "the stuck writer did not end";
}

// A reader that goes away in the middle: the lines after it are lost and reported, and the
// program carries on.
TEST_F(TraceWriterTest, AReaderThatDiesIsALossReportedAtStop) {
    const std::string path = (scratch_.Path() / "fifo").string();
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    TraceWriter trace(recorder_);
    ASSERT_EQ(trace.Start(path), std::nullopt);
    ::close(reader);
    for (int i = 0; i < 10; ++i) {
        recorder_.Add(Exchange("TPX"));
    }
    const std::optional<std::string> stopped = trace.Stop();
    ASSERT_TRUE(stopped.has_value());
    EXPECT_THAT(*stopped, HasSubstr("(10 exchange line(s) not written)"));
}

}  // namespace
}  // namespace trevane
