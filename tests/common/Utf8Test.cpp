#include <string_view>

#include <gtest/gtest.h>

#include "common/Utf8.h"

namespace trevane {
namespace {

using namespace std::string_view_literals;

// The report's and the terminal's tests cover ASCII, a valid two-byte form, a stray byte and
// the two-byte overlong one; these are the boundaries of the longer forms.
TEST(Utf8SequenceLength, AcceptsEachLongerFormAtItsBoundaries) {
    EXPECT_EQ(Utf8SequenceLength("\xE0\xA0\x80"sv), 3u);       // U+0800
    EXPECT_EQ(Utf8SequenceLength("\xED\x9F\xBF"sv), 3u);       // U+D7FF
    EXPECT_EQ(Utf8SequenceLength("\xEE\x80\x80"sv), 3u);       // U+E000
    EXPECT_EQ(Utf8SequenceLength("\xF0\x90\x80\x80"sv), 4u);   // U+10000
    EXPECT_EQ(Utf8SequenceLength("\xF4\x8F\xBF\xBF!"sv), 4u);  // U+10FFFF, then more text
    EXPECT_EQ(Utf8SequenceLength("a\x80"sv), 1u);
}

TEST(Utf8SequenceLength, RejectsOverlongSurrogateTooLargeAndTruncated) {
    for (const std::string_view bad : {
             ""sv,
             "\xE0\x9F\xBF"sv,      // U+07FF in three bytes
             "\xF0\x8F\xBF\xBF"sv,  // U+FFFF in four bytes
             "\xED\xA0\x80"sv,      // U+D800
             "\xED\xBF\xBF"sv,      // U+DFFF
             "\xF4\x90\x80\x80"sv,  // U+110000
             "\xF5\x80\x80\x80"sv,  // a lead byte past U+10FFFF
             "\xE2\x82"sv,          // cut off
             "\xF0\x9F\x98"sv,      // cut off
             "\xE2\x28\xA1"sv,      // a second byte that is no continuation
             "\xF0\x9F\x98\x41"sv,  // a last byte that is no continuation
             "\x80"sv,              // a continuation alone
         }) {
        EXPECT_EQ(Utf8SequenceLength(bad), 0u) << testing::PrintToString(bad);
    }
}

}  // namespace
}  // namespace trevane
