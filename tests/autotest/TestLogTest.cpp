#include <cstring>
#include <filesystem>
#include <stop_token>

#include <gtest/gtest.h>

#include "AutotestHarness.h"
#include "autotest/TestLog.h"
#include "common/StopControl.h"

namespace trevane::autotest_testing {
namespace {

using namespace std::chrono_literals;
using TestLog = AutotestFixture;

TEST_F(TestLog, NameIsMadeFromTheStartUpTimeAndOpenedWithoutItsTrailingBlank) {
    EXPECT_STREQ(g_logFileName, "logFile.txt 112912-140509.txt ");
    EXPECT_EQ(std::strlen(g_logFileName), 30u);
    EXPECT_EQ(LogFilePath(), "logFile.txt 112912-140509.txt");

    WriteLog("Starting Test", "\n");
    EXPECT_TRUE(std::filesystem::is_regular_file("logFile.txt 112912-140509.txt"));
    EXPECT_FALSE(std::filesystem::exists("logFile.txt 112912-140509.txt "));
}

TEST_F(TestLog, EntriesCarryACLocaleStampAndStoreEachLineFeedAsCrLf) {
    // The test program runs under a decimal-comma locale; the stamp must not notice.
    WriteLog("Starting Test", "\n");
    clock_->SleepFor(2s, {});
    WriteLog("SP: ", "10000,10000,10000,10000");
    WriteLog("ID: ", "127.0.0.1 23 rev 1.0\r\n");
    WriteLog("two\nlines", "\r");
    WriteLog("X Axis move finished.  Max torque: ", "0.432100\n");

    EXPECT_EQ(LogBytes(),
              "11/29/12 14:05:09  Starting Test\r\n"
              "11/29/12 14:05:11  SP: 10000,10000,10000,10000"
              "11/29/12 14:05:11  ID: 127.0.0.1 23 rev 1.0\r\r\n"
              "11/29/12 14:05:11  two\r\nlines\r"
              "11/29/12 14:05:11  X Axis move finished.  Max torque: 0.432100\r\n");
}

TEST_F(TestLog, StatusLineShowsTheWholeTextWithoutStamp) {
    WriteLog("Starting Test", "\n");
    WriteLog("KP: ", "6.00,6.00,6.00,6.00");
    EXPECT_EQ(Entries(), (std::vector<std::string>{"Starting Test\n", "KP: 6.00,6.00,6.00,6.00"}));
}

TEST_F(TestLog, AnUnwritableFileDropsTheEntryButTheStatusLineStillChanges) {
    // A folder in the file's place makes every open fail, whoever runs the test.
    std::filesystem::create_directory(LogFilePath());
    EXPECT_NO_THROW(WriteLog("Starting Test", "\n"));
    EXPECT_EQ(window_->TestStatus(), "Starting Test\n");
    EXPECT_TRUE(std::filesystem::is_directory(LogFilePath()));
}

TEST_F(TestLog, AStoppedTestThreadWritesNothingAndUnwinds) {
    WriteLog("Starting Test", "\n");
    std::stop_source stop;
    stop.request_stop();
    {
        ScopedStopToken scope(stop.get_token());
        EXPECT_THROW(WriteLog("KP: ", "6.00"), TestAborted);
    }
    EXPECT_EQ(window_->TestStatus(), "Starting Test\n");
    EXPECT_EQ(LogBytes(), "11/29/12 14:05:09  Starting Test\r\n");
}

TEST_F(TestLog, ANulInsideAReplyEndsTheEntryAsItDoesForACString) {
    WriteLog("SP: ", std::string("10\0garbage", 10));
    EXPECT_EQ(LogBytes(), "11/29/12 14:05:09  SP: 10");
    EXPECT_EQ(window_->TestStatus(), "SP: 10");
}

}  // namespace
}  // namespace trevane::autotest_testing
