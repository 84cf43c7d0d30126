#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include <locale.h>

#include <gtest/gtest.h>

#include "common/CLocale.h"

namespace trevane {
namespace {

TEST(ReadNumber, FollowsAtofRulesWhateverTheProcessLocale) {
    // TestMain installs a decimal-comma locale when there is one: "1,5" must still read as 1.
    EXPECT_FLOAT_EQ(ReadNumber(" 1.0000"), 1.0f);
    EXPECT_FLOAT_EQ(ReadNumber("-3.5000"), -3.5f);
    EXPECT_FLOAT_EQ(ReadNumber("1,5"), 1.0f);
    EXPECT_FLOAT_EQ(ReadNumber("\t\r\n  +700.5xyz"), 700.5f);
    EXPECT_FLOAT_EQ(ReadNumber("1e3"), 1000.0f);
    EXPECT_FLOAT_EQ(ReadNumber(".5"), 0.5f);
    EXPECT_FLOAT_EQ(ReadNumber("0x10"), 16.0f);
    EXPECT_FLOAT_EQ(ReadNumber("0x"), 0.0f);
}

TEST(ReadNumber, NoNumberReadsAsZero) {
    EXPECT_EQ(ReadNumber(""), 0.0f);
    EXPECT_EQ(ReadNumber("   "), 0.0f);
    EXPECT_EQ(ReadNumber("?"), 0.0f);
    EXPECT_EQ(ReadNumber("-"), 0.0f);
    EXPECT_EQ(ReadNumber("e5"), 0.0f);
}

TEST(ReadNumber, OutOfRangeAndSpecialValuesMatchStrtod) {
    EXPECT_TRUE(std::isinf(ReadNumber("1e400")));
    EXPECT_EQ(ReadNumber("1e-400"), 0.0f);
    EXPECT_TRUE(std::isinf(ReadNumber("-inf")));
    EXPECT_TRUE(std::isnan(ReadNumber("nan")));
    // Kept as a float: a reading of exactly 3.1 is just below the double 3.1 of the torque limit.
    EXPECT_EQ(ReadNumber("3.1"), 3.1f);
    EXPECT_FALSE(static_cast<double>(ReadNumber("3.1")) > 3.1);
    EXPECT_TRUE(static_cast<double>(ReadNumber("3.1001")) > 3.1);
}

TEST(ReadNumber, AgreesWithStrtodInTheCLocaleOnOddInputs) {
#ifdef _WIN32
    GTEST_SKIP() << "on Windows: the C runtime's strtod is no C99 reference (hex floats, inf, nan)";
#else
    const char* const inputs[] = {
        "--5",
        "+-800",
        "-+900",
        "++1",
        "- 5",
        "+",
        "-",
        "0x-1",
        "0x+1",
        "-0x-1",
        " \t\n\v\f\r42",
        "\v-7",
        "\f+.25",
        "\n\n1e2",
        "0x1A",
        "0X1a",
        "-0x1A",
        "0x1p3",
        "0x1P-2",
        "0x.8",
        "0x",
        "0xg",
        "0x1p",
        "0x1p99999",
        "0x1p-99999",
        "inf",
        "-inf",
        "INF",
        "infinity",
        "-Infinity",
        "infin",
        "nan",
        "-nan",
        "NaN",
        "nan(1)",
        "na",
        "in",
        "1e",
        "1e+",
        "1e-",
        "1E",
        "1e+x",
        "2.5e",
        "1e999",
        "-1e999",
        "1e-999",
        "1e-40",
        "-1e-40",
        "1e-45",
        "1e-46",
        "3.4028236e38",
        "1e39",
        ".5",
        "5.",
        ".",
        "-.",
        "-.5",
        ".e1",
        "0005",
        "-000.125",
        "00x1",
        "0.000001",
        "1,5",
        "12abc",
        "7 8",
        "",
        " ",
        "e5",
        "x",
        "3.1",
        "700",
        "-3.40282347e+38",
    };
    locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    ASSERT_NE(cLocale, static_cast<locale_t>(0));
    for (const char* input : inputs) {
        SCOPED_TRACE(std::string("input \"") + input + "\"");
        float expected = static_cast<float>(strtod_l(input, nullptr, cLocale));
        float actual = ReadNumber(input);
        if (std::isnan(expected)) {
            EXPECT_TRUE(std::isnan(actual));
        } else {
            // Bitwise, so that -0 against 0 and a denormal's last bit count as well.
            EXPECT_EQ(std::memcmp(&expected, &actual, sizeof expected), 0)
                << "expected " << expected << ", read " << actual;
        }
    }
    freelocale(cLocale);
#endif
}

TEST(FormatFixed, PrintsSixDecimalsWithAPoint) {
    EXPECT_EQ(FormatFixed(0.0), "0.000000");
    EXPECT_EQ(FormatFixed(static_cast<double>(3.1f)), "3.100000");
    EXPECT_EQ(FormatFixed(-700.5), "-700.500000");
    EXPECT_EQ(FormatFixed(1234567.0), "1234567.000000");
    EXPECT_EQ(FormatInt(-32768), "-32768");
    EXPECT_EQ(FormatInt(255), "255");
}

TEST(FormatTimeC, MatchesTheCLocaleStrftime) {
    std::tm time{};
    time.tm_year = 112;
    time.tm_mon = 10;
    time.tm_mday = 29;
    time.tm_hour = 14;
    time.tm_min = 5;
    time.tm_sec = 9;
    EXPECT_EQ(FormatTimeC("%x %X ", time), "11/29/12 14:05:09 ");
    EXPECT_EQ(FormatTimeC("logFile.txt %m%d%y-%H%M%S.txt ", time),
              "logFile.txt 112912-140509.txt ");
    EXPECT_EQ(FormatTimeC("100%%", time), "100%");
    EXPECT_EQ(FormatTimeC("%Y-%m-%dT%H:%M:%S", time), "2012-11-29T14:05:09");
    time.tm_year = 100;
    EXPECT_EQ(FormatTimeC("%y", time), "00");
}

}  // namespace
}  // namespace trevane
