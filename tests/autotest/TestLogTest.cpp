#ifndef _WIN32
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stop_token>
#include <system_error>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AutotestHarness.h"
#include "autotest/TestLog.h"
#include "common/StopControl.h"

namespace trevane::autotest_testing {
namespace {

using namespace std::chrono_literals;
using TestLog = AutotestFixture;
using ::testing::HasSubstr;
using trevane::testing::ReadFile;

// 50 bytes in the file: the 19-byte stamp and 31 of text.
constexpr const char* kEntryText = "entry of thirty-one bytes .....";
constexpr std::size_t kEntrySize = 50;

[[maybe_unused]] std::string Repeated(const std::string& bytes, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        out += bytes;
    }
    return out;
}

// The short write and the full disk need POSIX: a file-size limit and a small tmpfs mount.
#ifndef _WIN32

// Files of this process may not grow past `bytes` while it lives; SIGXFSZ is ignored meanwhile so
// a write past the limit fails instead of ending the process.
class ScopedFileSizeLimit {
  public:
    explicit ScopedFileSizeLimit(rlim_t bytes) {
        previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~ScopedFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        ::signal(SIGXFSZ, previousHandler_);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;
    bool Ok() const { return ok_; }

  private:
    rlimit previous_{};
    void (*previousHandler_)(int) = SIG_DFL;
    bool ok_ = false;
};

TEST_F(TestLog, NameIsMadeFromTheStartUpTimeAndOpenedWithoutItsTrailingBlank) {
    EXPECT_EQ(LogFilePath(), "logFile.txt 112912-140509.txt");

    WriteLog("Starting Test", "\n");
    EXPECT_TRUE(std::filesystem::is_regular_file("logFile.txt 112912-140509.txt"));
    EXPECT_FALSE(std::filesystem::exists("logFile.txt 112912-140509.txt "));
}

// Two programs starting a test in the same second must not write into one file.
TEST_F(TestLog, ALogOfTheSameSecondGetsANumberedFileOfItsOwn) {
    std::ofstream("logFile.txt 112912-140509.txt", std::ios::binary) << "other\r\n";
    WriteLog("Starting Test", "\n");
    EXPECT_EQ(LogFilePath(), "logFile.txt 112912-140509-2.txt");
    EXPECT_EQ(std::filesystem::file_size("logFile.txt 112912-140509.txt"), 7u);
    WriteLog("second", "\n");
    EXPECT_EQ(LogBytes(), "11/29/12 14:05:09  Starting Test\r\n11/29/12 14:05:09  second\r\n");

    MakeLogFileName();
    WriteLog("Starting Test", "\n");
    EXPECT_EQ(LogFilePath(), "logFile.txt 112912-140509-3.txt");
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

#endif

TEST_F(TestLog, AnUnwritableFileDropsTheEntryButTheStatusLineStillChanges) {
    WriteLog("Starting Test", "\n");
    // A folder in the file's place makes every open fail, whoever runs the test.
    std::filesystem::remove(LogFilePath());
    std::filesystem::create_directory(LogFilePath());
    EXPECT_NO_THROW(WriteLog("KP: ", "6.00"));
    EXPECT_EQ(window_->TestStatus(), "KP: 6.00");
    EXPECT_TRUE(std::filesystem::is_directory(LogFilePath()));
    EXPECT_EQ(Log().LostEntries(), 1);
    EXPECT_THAT(Log().LastWriteFailure(), HasSubstr("opening it failed"));
    EXPECT_THAT(Log().LastWriteFailure(), ::testing::Not(HasSubstr("logFile")));

    MakeLogFileName();
    EXPECT_EQ(Log().LostEntries(), 0) << "a new log starts without losses";
    EXPECT_EQ(Log().LastWriteFailure(), "");
}

// Names a test of the same second may meet, by number: what the name already holds.
std::string NumberedLog(int number) {
    return number == 1 ? std::string("logFile.txt 112912-140509.txt")
                       : "logFile.txt 112912-140509-" + std::to_string(number) + ".txt";
}

TEST_F(TestLog, EveryNameAlreadyTakenIsPassedOverAndNoneIsWrittenTo) {
    std::ofstream(NumberedLog(1), std::ios::binary) << "another test\r\n";
    std::filesystem::create_directory(NumberedLog(2));
#ifndef _WIN32
    // A link to a file elsewhere, and one that leads nowhere: neither may be followed.
    const std::filesystem::path outside = std::filesystem::absolute("outside");
    std::filesystem::create_directory(outside);
    std::ofstream(outside / "kept.txt", std::ios::binary) << "kept";
    std::filesystem::create_symlink(outside / "kept.txt", NumberedLog(3));
    std::filesystem::create_symlink(outside / "made.txt", NumberedLog(4));
    const std::string ours = NumberedLog(5);
#else
    const std::string ours = NumberedLog(3);
#endif
    WriteLog("Starting Test", "\n");
    EXPECT_EQ(LogFilePath(), ours);
    EXPECT_EQ(LogBytes(), "11/29/12 14:05:09  Starting Test\r\n");
    EXPECT_EQ(Log().LostEntries(), 0);
    EXPECT_EQ(ReadFile(NumberedLog(1)), "another test\r\n");
    EXPECT_TRUE(std::filesystem::is_empty(NumberedLog(2)));
#ifndef _WIN32
    EXPECT_EQ(ReadFile(outside / "kept.txt"), "kept");
    EXPECT_FALSE(std::filesystem::exists(outside / "made.txt"));
#endif
}

TEST_F(TestLog, WithoutAFreeNameEveryEntryIsLostAndTheReasonNamesTheFolderAndTheNames) {
    std::ofstream(NumberedLog(1), std::ios::binary) << "another test\r\n";
    for (int number = 2; number <= 100; ++number) {
        std::filesystem::create_directory(NumberedLog(number));
    }
    WriteLog("Starting Test", "\n");
    WriteLog("KP: ", "6.00");
    EXPECT_EQ(window_->TestStatus(), "KP: 6.00") << "the status line goes on";
    EXPECT_EQ(Log().LostEntries(), 2);
    EXPECT_EQ(Log().LastWriteFailure(),
              "no free name for the log file in '" +
                  std::filesystem::current_path().string() + "': '" + NumberedLog(1) + "' to '" +
                  NumberedLog(100) + "' are all taken");
    EXPECT_EQ(LogFilePath(), "") << "no other test's file is named as this one's log";
    EXPECT_EQ(ReadFile(NumberedLog(1)), "another test\r\n");
    EXPECT_FALSE(std::filesystem::exists(NumberedLog(101)));

    // A new log tries every name again.
    std::filesystem::remove(NumberedLog(50));
    MakeLogFileName();
    WriteLog("Starting Test", "\n");
    EXPECT_EQ(LogFilePath(), NumberedLog(50));
    EXPECT_EQ(Log().LostEntries(), 0);
}

#ifndef _WIN32

// Only a name nothing holds counts as free; a folder that cannot take files is no reason to
// try a hundred names.
TEST_F(TestLog, AFolderWhereNoFileCanBeMadeIsNamedOnce) {
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::create_directory("gone");
    std::filesystem::current_path("gone");
    std::filesystem::remove(here / "gone");
    WriteLog("Starting Test", "\n");
    std::filesystem::current_path(here);
    EXPECT_EQ(Log().LostEntries(), 1);
    EXPECT_THAT(Log().LastWriteFailure(), HasSubstr("the log file '" + NumberedLog(1) +
                                                 "' could not be made in '"));
    EXPECT_THAT(Log().LastWriteFailure(), HasSubstr(std::generic_category().message(ENOENT)));
    EXPECT_EQ(LogFilePath(), "");
}

// Once made, the log is the file it was: whatever takes its name later is not written to. A log
// removed meanwhile is made again, as an append would make it.
TEST_F(TestLog, AnEntryGoesOnlyToTheFileTheLogMade) {
    WriteLog("Starting Test", "\n");
    const std::string log = LogFilePath();
    std::ofstream("elsewhere.txt", std::ios::binary) << "elsewhere";

    std::filesystem::rename(log, "ours.txt");
    std::filesystem::create_symlink(std::filesystem::absolute("elsewhere.txt"), log);
    WriteLog("linked", "\n");
    EXPECT_EQ(Log().LostEntries(), 1);
    EXPECT_EQ(Log().LastWriteFailure(), "a symbolic link has taken its name");

    std::filesystem::remove(log);
    std::filesystem::copy_file("elsewhere.txt", log);
    WriteLog("replaced", "\n");
    EXPECT_EQ(Log().LostEntries(), 2);
    EXPECT_EQ(Log().LastWriteFailure(), "another file has taken its name");
    EXPECT_EQ(ReadFile("elsewhere.txt"), "elsewhere");
    EXPECT_EQ(ReadFile(log), "elsewhere");

    std::filesystem::rename("ours.txt", log);
    WriteLog("back", "\n");
    std::filesystem::remove(log);
    WriteLog("made again", "\n");
    EXPECT_EQ(Log().LostEntries(), 2);
    EXPECT_EQ(LogBytes(), "11/29/12 14:05:09  made again\r\n");
}

#endif

#ifndef _WIN32

TEST_F(TestLog, AnEntryCutShortIsTakenOutAgainSoTheFileHoldsOnlyWholeEntries) {
    const std::string entry = "11/29/12 14:05:09  " + std::string(kEntryText);
    ASSERT_EQ(entry.size(), kEntrySize);
    {
        // Room for two entries and 20 bytes of a third.
        ScopedFileSizeLimit limit(2 * kEntrySize + 20);
        ASSERT_TRUE(limit.Ok());
        for (int i = 0; i < 4; ++i) {
            WriteLog(kEntryText, "");
        }
    }
    EXPECT_EQ(LogBytes(), Repeated(entry, 2));
    EXPECT_EQ(Log().LostEntries(), 2);
    EXPECT_THAT(Log().LastWriteFailure(), HasSubstr(std::generic_category().message(EFBIG)));

    // Room again: the next entry follows the last whole one.
    WriteLog(kEntryText, "");
    EXPECT_EQ(LogBytes(), Repeated(entry, 3));
    EXPECT_EQ(Log().LostEntries(), 2);
}

TEST_F(TestLog, AFullFileSystemKeepsOnlyWholeEntries) {
    const std::filesystem::path full = std::filesystem::current_path() / "full";
    std::filesystem::create_directory(full);
    if (::mount("tmpfs", full.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a small file system here (" << std::strerror(errno)
                     << "); the file-size-limit test covers the short write";
    }
    std::filesystem::current_path(full);
    // Entries of 1000 bytes do not divide the file system's pages, so the last one is cut.
    const std::string text(981, 'x');
    const std::string entry = "11/29/12 14:05:09  " + text;
    for (int i = 0; i < 200 && Log().LostEntries() == 0; ++i) {
        WriteLog(text, "");
    }
    const std::string bytes = LogBytes();
    std::filesystem::current_path(full.parent_path());
    ::umount2(full.c_str(), MNT_DETACH);

    EXPECT_GT(Log().LostEntries(), 0) << "the file system never filled";
    EXPECT_THAT(Log().LastWriteFailure(), HasSubstr(std::generic_category().message(ENOSPC)));
    ASSERT_EQ(bytes.size() % entry.size(), 0u) << bytes.size() << " bytes";
    EXPECT_GT(bytes.size(), 0u);
    EXPECT_EQ(bytes, Repeated(entry, bytes.size() / entry.size()));
}

#endif

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
