#include "app/ProfileFile.h"

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/ScratchFolder.h"

namespace trevane {
namespace {

std::string Read(std::string_view contents, std::string_view key = "GAddress") {
    return ReadProfileString(contents, "Main", key, "<default>");
}

TEST(ProfileFile, FindsTheKeyOfItsSectionOnly) {
    const std::string text =
        "[Other]\nGAddress=10.0.0.1\n"
        "[Main]\nName=x\nGAddress=10.0.0.2\n"
        "[Later]\nGAddress=10.0.0.3\n";
    EXPECT_EQ(Read(text), "10.0.0.2");
    EXPECT_EQ(Read("[Other]\nGAddress=10.0.0.1\n"), "<default>");
    EXPECT_EQ(Read("GAddress=10.0.0.1\n[Main]\n"), "<default>") << "a key before any section";
    EXPECT_EQ(Read("[Main]\nGAddressX=1\nXGAddress=2\n"), "<default>");
}

TEST(ProfileFile, MatchesSectionAndKeyWithoutRegardToCase) {
    EXPECT_EQ(Read("[MAIN]\ngaddress=10.0.0.4\n"), "10.0.0.4");
    EXPECT_EQ(Read("[main]\nGADDRESS=10.0.0.5\n"), "10.0.0.5");
}

TEST(ProfileFile, DropsBlanksAroundNamesAndValuesAndOnePairOfQuotes) {
    EXPECT_EQ(Read("  [ Main ]  \r\n\t GAddress \t=   10.0.0.6 \t\r\n"), "10.0.0.6");
    EXPECT_EQ(Read("[Main]\nGAddress=\"10.0.0.7\"\n"), "10.0.0.7");
    EXPECT_EQ(Read("[Main]\nGAddress='10.0.0.8'\n"), "10.0.0.8");
    EXPECT_EQ(Read("[Main]\nGAddress=\"10.0.0.9\n"), "\"10.0.0.9") << "an unmatched quote stays";
    EXPECT_EQ(Read("[Main]\nGAddress=a = b\n"), "a = b") << "only the first '=' separates";
}

TEST(ProfileFile, AnEmptyValueReadsEmptyAndAMissingKeyReadsTheDefault) {
    EXPECT_EQ(Read("[Main]\nGAddress=\n"), "");
    EXPECT_EQ(Read("[Main]\nGAddress=   \n"), "");
    EXPECT_EQ(Read(""), "<default>");
    EXPECT_EQ(Read("\xEF\xBB\xBF[Main]\nGAddress=10.0.0.10"), "10.0.0.10")
        << "a UTF-8 mark and a last line without line end";
}

TEST(ProfileFile, TheFirstMatchWinsAcrossRepeatedSections) {
    EXPECT_EQ(Read("[Main]\nGAddress=10.0.0.11\nGAddress=10.0.0.12\n[Main]\nGAddress=x\n"),
              "10.0.0.11");
    EXPECT_EQ(Read("[Main]\nPort=1\n[Main]\nGAddress=10.0.0.13\n"), "10.0.0.13");
}

TEST(ProfileFile, KeepsAtMost254CharactersOfAValue) {
    const std::string longValue(300, 'a');
    const std::string read = Read("[Main]\nGAddress=" + longValue + "\n");
    EXPECT_EQ(read, std::string(254, 'a'));
    EXPECT_EQ(Read("[Main]\nGAddress=" + std::string(254, 'b')), std::string(254, 'b'));
}

// Notepad's "Unicode": the mark FF FE, then UTF-16 little-endian (of ASCII text and U+00F6).
std::string Utf16Le(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        if (c == '~') {
            out += std::string("\xF6\x00", 2);  // o with diaeresis
        } else {
            out.push_back(c);
            out.push_back('\0');
        }
    }
    return out;
}

TEST(ProfileFile, ReadsUtf16LittleEndianWithTheSameRules) {
    const std::string text =
        "[Gr~sse]\r\nGAddress=10.9.9.9\r\n[ main ]\r\n  gaddress =  \"127.0.0.1\"  \r\n"
        "Port=5023\r\nEmpty=\r\nName=K~ln\r\n[Main]\r\nGAddress=127.0.0.2\r\n";
    EXPECT_EQ(Read(Utf16Le(text)), "127.0.0.1");
    EXPECT_EQ(ReadProfileString(Utf16Le(text), "Main", "Port", "23"), "5023");
    EXPECT_EQ(ReadProfileString(Utf16Le(text), "Main", "Empty", "d"), "");
    EXPECT_EQ(ReadProfileString(Utf16Le(text), "Main", "Absent", "d"), "d");
    EXPECT_EQ(ReadProfileString(Utf16Le(text), "Main", "Name", ""), "K\xC3\xB6ln");
    EXPECT_EQ(ReadProfileString(Utf16Le(text), "Gr\xC3\xB6sse", "GAddress", ""), "10.9.9.9");
    // The limit counts characters; a cut never leaves half a character.
    EXPECT_EQ(Read(Utf16Le("[Main]\nGAddress=" + std::string(300, 'a'))), std::string(254, 'a'));
    EXPECT_EQ(Read(Utf16Le("[Main]\nGAddress=" + std::string(253, 'a') + "~~")),
              std::string(253, 'a'));
    // Without its mark the same bytes are no profile text at all.
    EXPECT_EQ(Read(Utf16Le(text).substr(2)), "<default>");
}

class ProfileFileOnDisk : public ::testing::Test {
  protected:
    std::filesystem::path Write(const std::string& contents) {
        const auto file = folder_ / kConfigFileName;
        std::ofstream(file, std::ios::binary) << contents;
        return file;
    }

    testing::ScratchFolder scratch_{"trevane-profile"};
    const std::filesystem::path folder_ = scratch_.Path();
};

TEST_F(ProfileFileOnDisk, AMissingFileReadsAsNothingConfigured) {
    EXPECT_EQ(ConfiguredAddress(folder_ / "absent.ini"), "");
    EXPECT_EQ(ConfiguredPort(folder_ / "absent.ini", 23), 23);
    EXPECT_EQ(ReadProfileFile(folder_, "Main", "GAddress", "d"), "d") << "a folder is no file";
}

TEST_F(ProfileFileOnDisk, ReadsTheAddress) {
    EXPECT_EQ(ConfiguredAddress(Write("[Main]\r\nGAddress = 127.0.0.1\r\n")), "127.0.0.1");
}

TEST_F(ProfileFileOnDisk, ReadsAddressAndPortFromAUtf16File) {
    const auto file = Write(Utf16Le("[Main]\r\nGAddress=127.0.0.1\r\nPort=5023\r\n"));
    EXPECT_EQ(ConfiguredAddress(file), "127.0.0.1");
    EXPECT_EQ(ConfiguredPort(file, 23), 5023);
    EXPECT_EQ(ConfiguredPort(Write(Utf16Le("[Main]\r\nPort=65536\r\n")), 23), 23);
}

TEST_F(ProfileFileOnDisk, UsesAPortFrom1To65535AndIgnoresAnythingElse) {
    EXPECT_EQ(ConfiguredPort(Write("[Main]\nPort=5023\n"), 23), 5023);
    EXPECT_EQ(ConfiguredPort(Write("[main]\nPORT = 1\n"), 23), 1);
    EXPECT_EQ(ConfiguredPort(Write("[Main]\nPort=65535\n"), 23), 65535);
    for (const char* bad : {"0", "65536", "99999999999", "-1", "+23", "23x", "0x17", "", " "}) {
        EXPECT_EQ(ConfiguredPort(Write(std::string("[Main]\nPort=") + bad + "\n"), 23), 23)
            << "Port=" << bad;
    }
    EXPECT_EQ(ConfiguredPort(Write("[Main]\nGAddress=127.0.0.1\n"), 23), 23);
}

TEST_F(ProfileFileOnDisk, TheConfigurationIsTheWorkingDirectorysFile) {
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder_);
    const auto path = ConfigFilePath();
    std::filesystem::current_path(previous);
    EXPECT_EQ(path, folder_ / "PelornControl.ini");
}

TEST_F(ProfileFileOnDisk, TheHistoryServerIsItsOwnSectionsWholeValue) {
    const std::string url = "postgresql://anna@127.0.0.1:5432/team?sslmode=verify-full&" +
                            std::string(300, 'x') + "=1";
    EXPECT_EQ(ConfiguredHistoryServer(Write("[Main]\nGAddress=127.0.0.1\n[History]\nServer=" +
                                            url + "\n")),
              url);
    EXPECT_EQ(ConfiguredHistoryServer(Write("[Main]\nServer=team\n")), "");
}

}  // namespace
}  // namespace trevane
