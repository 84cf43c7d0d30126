#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "common/FileAppend.h"
#include "common/FileReplace.h"
#include "common/PathText.h"
#include "support/ScratchFolder.h"

namespace trevane::testing {
namespace {

// A technician's folder whose name no single ANSI code page holds: on Windows a path read in
// the code page would land in another folder or fail.
const std::string kFolderName =
    "Pr\xC3\xBC"
    "fstand \xE6\xB8\xAC\xE5\xAE\x9A \xCE\xA9";

TEST(PathTextTest, FilesInAFolderOutsideTheCodePageAreWrittenAndReadWhereTheTextSays) {
    ScratchFolder scratch;
    const std::string folder = TextFromPath(scratch.Path()) + "/" + kFolderName;
    std::filesystem::create_directory(PathFromText(folder));
    const std::string log = folder + "/logFile.txt";
    const std::string dump = folder + "/dump.txt";

    ASSERT_EQ(AppendWhole(log, "first\r\n"), std::nullopt);
    ASSERT_EQ(AppendWhole(log, "second\r\n"), std::nullopt);
    ASSERT_EQ(ReplaceFileAtomically(dump, "program"), std::nullopt);
    std::string failure;
    EXPECT_EQ(CreateNewFile(log, failure), NewFile::Taken) << failure;
    EXPECT_EQ(KindOf(dump), FileKind::Regular);

    // The folder the files went into carries the name exactly, and holds nothing else.
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.Path())) {
        EXPECT_EQ(TextFromPath(entry.path().filename()), kFolderName);
        ++entries;
    }
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(ReadFile(PathFromText(log)), "first\r\nsecond\r\n");
    EXPECT_EQ(ReadFile(PathFromText(dump)), "program");
}

#ifdef _WIN32
// Windows users type and paste paths with backslashes; both separators reach the same file.
TEST(PathTextTest, BackslashesAndSlashesNameTheSameFileOnWindows) {
    ScratchFolder scratch;
    const std::string folder = TextFromPath(scratch.Path()) + "\\" + kFolderName;
    std::filesystem::create_directory(PathFromText(folder));
    ASSERT_EQ(AppendWhole(folder + "\\logFile.txt", "first\r\n"), std::nullopt);
    ASSERT_EQ(AppendWhole(folder + "/logFile.txt", "second\r\n"), std::nullopt);
    EXPECT_EQ(ReadFile(PathFromText(folder) / "logFile.txt"), "first\r\nsecond\r\n");
    EXPECT_EQ(KindOf(folder + "\\logFile.txt"), FileKind::Regular);
}
#endif

TEST(PathTextTest, TextAndPathConvertBothWaysAsUtf8) {
    EXPECT_EQ(TextFromPath(PathFromText(kFolderName)), kFolderName);
    EXPECT_EQ(TextFromPath(PathFromText("")), "");
    EXPECT_EQ(TextFromPath(PathFromText(kFolderName + "/x.txt").filename()), "x.txt");
}

}  // namespace
}  // namespace trevane::testing
