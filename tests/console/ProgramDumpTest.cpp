#ifndef _WIN32
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "console/ProgramDump.h"
#include "support/LinkFixture.h"
#include "support/ReadOnlyFolder.h"
#include "support/ScratchFolder.h"

namespace trevane::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

SpyWindow::Message Dumped() {
    return {"Dumped to logProgram.txt", "Diagnostics", false};
}
SpyWindow::Message CouldNotWrite() {
    return {"Could not write logProgram.txt", "Diagnostics", false};
}

class ProgramDumpTest : public ScriptedLinkTest {
  protected:
    std::vector<std::string> FolderEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_.Path())) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    ScopedWorkingFolder folder_{"trevane-dump"};
};

MATCHER_P(IsMessage, expected, "") {
    return arg.text == expected.text && arg.caption == expected.caption &&
           arg.ownedByWindow == expected.ownedByWindow;
}

TEST_F(ProgramDumpTest, WritesTheProgramWithCrLfLineEndsAndSaysSo) {
    controller_->SetProgram("#AUTO\nJG 1000\nBG X\nEN\n");
    Connect();
    DumpProgram(Link());
    EXPECT_EQ(ReadFile("logProgram.txt"), "#AUTO\r\nJG 1000\r\nBG X\r\nEN\r\n");
    EXPECT_THAT(window_->Messages(), ElementsAre(IsMessage(Dumped())));
    EXPECT_THAT(FolderEntries(), ElementsAre("logProgram.txt"));
    EXPECT_EQ(controller_->Uploads(), 1);
}

TEST_F(ProgramDumpTest, DoesNothingBeforeAConnectOrWhileATestRuns) {
    controller_->SetProgram("EN\n");
    DumpProgram(Link());
    OnDumpProgram(Link());
    Connect();
    TestState().running = true;
    OnDumpProgram(Link());
    EXPECT_EQ(controller_->Uploads(), 0);
    EXPECT_THAT(FolderEntries(), IsEmpty());
    EXPECT_THAT(window_->Messages(), IsEmpty());

    TestState().running = false;
    OnDumpProgram(Link());
    EXPECT_EQ(ReadFile("logProgram.txt"), "EN\r\n");
}

TEST_F(ProgramDumpTest, AnEmptyProgramGivesAnEmptyFileAndTheMessage) {
    WriteBytes("logProgram.txt", "old\r\n");
    controller_->SetProgram("");
    Connect();
    DumpProgram(Link());
    EXPECT_TRUE(fs::exists("logProgram.txt"));
    EXPECT_EQ(fs::file_size("logProgram.txt"), 0U);
    EXPECT_THAT(window_->Messages(), ElementsAre(IsMessage(Dumped())));
}

TEST_F(ProgramDumpTest, TheTextEndsAtItsFirstZeroByte) {
    controller_->SetProgram(std::string("EN\n\0garbage\n", 12));
    Connect();
    DumpProgram(Link());
    EXPECT_EQ(ReadFile("logProgram.txt"), "EN\r\n");
}

TEST_F(ProgramDumpTest, AFailedUploadTouchesNoFileAndShowsNothing) {
    WriteBytes("logProgram.txt", "previous\r\n");
    controller_->FailUpload();
    Connect();
    DumpProgram(Link());
    EXPECT_EQ(ReadFile("logProgram.txt"), "previous\r\n");
    EXPECT_THAT(FolderEntries(), ElementsAre("logProgram.txt"));
    EXPECT_THAT(window_->Messages(), IsEmpty());
    EXPECT_THAT(window_->Transcript(), IsEmpty());
}

TEST_F(ProgramDumpTest, AFileThatCannotBeReplacedIsReportedAndNothingIsLeftBehind) {
    // A folder in the file's place cannot be replaced by a file, even by root.
    fs::create_directory("logProgram.txt");
    WriteBytes("logProgram.txt/keep", "x");
    controller_->SetProgram("EN\n");
    Connect();
    DumpProgram(Link());
    EXPECT_THAT(window_->Messages(), ElementsAre(IsMessage(CouldNotWrite())));
    EXPECT_TRUE(fs::is_directory("logProgram.txt"));
    EXPECT_EQ(ReadFile("logProgram.txt/keep"), "x");
    EXPECT_THAT(FolderEntries(), ElementsAre("logProgram.txt")) << "temporary file left behind";
}

TEST_F(ProgramDumpTest, AReadOnlyFolderKeepsThePreviousFileWhole) {
    WriteBytes("logProgram.txt", "previous\r\n");
    controller_->SetProgram("EN\n");
    Connect();
    const std::string unavailable =
        RunInReadOnlyFolder(folder_.Path(), [&] { DumpProgram(Link()); });
    if (!unavailable.empty()) {
        GTEST_SKIP() << unavailable;
    }
    EXPECT_EQ(ReadFile("logProgram.txt"), "previous\r\n");
    EXPECT_THAT(window_->Messages(), ElementsAre(IsMessage(CouldNotWrite())));
    EXPECT_THAT(FolderEntries(), ElementsAre("logProgram.txt"));
}

TEST_F(ProgramDumpTest, ReplacesTheFileInsteadOfWritingIntoIt) {
    // A hard link shares the old file's bytes: writing in place would change them too.
    WriteBytes("logProgram.txt", "previous\r\n");
    fs::create_hard_link("logProgram.txt", "kept.txt");
    controller_->SetProgram("EN\n");
    Connect();
    DumpProgram(Link());
    EXPECT_EQ(ReadFile("logProgram.txt"), "EN\r\n");
    EXPECT_EQ(ReadFile("kept.txt"), "previous\r\n");
    EXPECT_EQ(fs::hard_link_count("logProgram.txt"), 1U);
}

TEST_F(ProgramDumpTest, TheNewFileKeepsTheModeOfTheOneItReplaces) {
#ifdef _WIN32
    GTEST_SKIP() << "on Windows: files carry no POSIX mode bits to keep";
#endif
    WriteBytes("logProgram.txt", "previous\r\n");
    fs::permissions("logProgram.txt", fs::perms::owner_read | fs::perms::owner_write);
    controller_->SetProgram("EN\n");
    Connect();
    DumpProgram(Link());
    EXPECT_EQ(ReadFile("logProgram.txt"), "EN\r\n");
    EXPECT_EQ(fs::status("logProgram.txt").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // A file the group may write stays so: the umask does not narrow it.
    fs::permissions("logProgram.txt", fs::perms::owner_read | fs::perms::owner_write |
                                          fs::perms::group_read | fs::perms::group_write |
                                          fs::perms::others_read);
    DumpProgram(Link());
    EXPECT_EQ(fs::status("logProgram.txt").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::group_write | fs::perms::others_read);
    EXPECT_THAT(window_->Messages(), ElementsAre(IsMessage(Dumped()), IsMessage(Dumped())));
}

TEST_F(ProgramDumpTest, ASymbolicLinkIsWrittenThroughToItsTarget) {
#ifdef _WIN32
    GTEST_SKIP() << "on Windows: symbolic links need an administrator (or developer mode)";
#endif
    fs::create_directory("elsewhere");
    WriteBytes("elsewhere/program.txt", "previous\r\n");
    fs::create_symlink("elsewhere/program.txt", "logProgram.txt");
    fs::create_symlink("missing.txt", "dangling.txt");
    controller_->SetProgram("EN\n");
    Connect();
    DumpProgram(Link());
    EXPECT_TRUE(fs::is_symlink("logProgram.txt"));
    EXPECT_EQ(fs::read_symlink("logProgram.txt"), "elsewhere/program.txt");
    EXPECT_EQ(ReadFile("elsewhere/program.txt"), "EN\r\n");
    std::vector<std::string> besideTarget;
    for (const auto& entry : fs::directory_iterator("elsewhere")) {
        besideTarget.push_back(entry.path().filename().string());
    }
    EXPECT_THAT(besideTarget, ElementsAre("program.txt")) << "temporary file left behind";

    // A link to a file not there yet creates it.
    std::string error;
    EXPECT_TRUE(WriteTextFileAtomically("dangling.txt", "x\n", error)) << error;
    EXPECT_TRUE(fs::is_symlink("dangling.txt"));
    EXPECT_EQ(ReadFile("missing.txt"), "x\r\n");
}

#ifndef _WIN32
// A rename would put a plain file where the device or FIFO was, and the other program would
// never see the program; a folder stays an error.
TEST_F(ProgramDumpTest, ADeviceOrFifoIsWrittenInPlaceAndAFolderIsRefused) {
    ASSERT_EQ(::mkfifo("fifo", 0600), 0);
    std::string read;
    std::thread reader([&read] { read = ReadFile("fifo"); });
    std::string error;
    // The reader may not have opened its end yet: a FIFO nobody reads is refused, not waited on.
    bool written = false;
    for (int attempt = 0; attempt < 500 && !written; ++attempt) {
        written = WriteTextFileAtomically("fifo", "EN\n", error);
        if (!written) {
            EXPECT_THAT(error, HasSubstr("nothing is reading it"));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    reader.join();
    EXPECT_TRUE(written) << error;
    EXPECT_EQ(read, "EN\r\n");
    EXPECT_TRUE(fs::is_fifo("fifo"));
    EXPECT_THAT(FolderEntries(), ElementsAre("fifo")) << "temporary file left behind";

    fs::create_directory("folder");
    EXPECT_FALSE(WriteTextFileAtomically("folder", "EN\n", error));
    EXPECT_THAT(error, HasSubstr("'folder': it is a folder"));

    // mknod needs root; a null device in the scratch folder is then as good as /dev/full.
    if (::mknod("null", S_IFCHR | 0600, ::makedev(1, 3)) == 0) {
        EXPECT_TRUE(WriteTextFileAtomically("null", "EN\n", error)) << error;
        EXPECT_TRUE(fs::is_character_file("null"));
        ASSERT_EQ(::mknod("full", S_IFCHR | 0600, ::makedev(1, 7)), 0);
        EXPECT_FALSE(WriteTextFileAtomically("full", "EN\n", error));
        EXPECT_THAT(error, HasSubstr(std::generic_category().message(ENOSPC)));
        EXPECT_TRUE(fs::is_character_file("full"));
    }
}
#endif

TEST(WriteTextFileAtomically, NamesTheFileThatCouldNotBeWritten) {
    std::string error;
    const std::string path =
        (fs::temp_directory_path() / "trevane-no-such-folder" / "out.txt").string();
    EXPECT_FALSE(WriteTextFileAtomically(path, "x\n", error));
    EXPECT_THAT(error, HasSubstr("trevane-no-such-folder"));
}

TEST_F(ProgramDumpTest, OpenLogFolderOpensTheWorkingDirectoryWhateverTheFlags) {
    OpenLogFolder(Link());
    TestState().running = true;
    OpenLogFolder(Link());
    EXPECT_THAT(window_->OpenedFolders(),
                ElementsAre(fs::current_path().string(), fs::current_path().string()));
    EXPECT_EQ(fs::path(window_->OpenedFolders().front()), folder_.Path());
}

class ProgramDumpOfTheMachineTest : public SimulatedLinkTest {
  protected:
    ScopedWorkingFolder folder_{"trevane-dump"};
};

TEST_F(ProgramDumpOfTheMachineTest, StoresTheUploadedProgramWithCrLfLineEnds) {
    machine_->SetStoredProgram("#MOVE\r\nPA 1000\r\nBG X\r\nEN\r\n");
    Connect();
    OnDumpProgram(Link());
    EXPECT_EQ(ReadFile("logProgram.txt"), "#MOVE\r\nPA 1000\r\nBG X\r\nEN\r\n");
    EXPECT_THAT(window_->Messages(), ElementsAre(IsMessage(Dumped())));
}

}  // namespace
}  // namespace trevane::testing
