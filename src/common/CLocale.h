#pragma once

#include <chrono>
#include <ctime>
#include <string>
#include <string_view>

// Number reading and formatting that follow the "C" locale whatever the process locale is.
// Qt sets the process locale from the environment; a technician with a decimal-comma locale
// must still get the same log file and read the same numbers from the controller.
namespace trevane {

// The standard library's atof rules (leading white space skipped, reading stops at the first
// character that does not fit, no number reads as 0), in the "C" locale, held as a 32-bit float.
float ReadNumber(std::string_view text);

// The same reading in double precision, before the conversion to float.
double ReadNumberAsDouble(std::string_view text);

// Whether `text`, blanks, CR and LF around it aside, is one decimal number and nothing else:
// a sign, digits with at most one '.', an exponent ("-20000", " 1.0000", "2.5e-3").
bool IsOneNumber(std::string_view text);

// printf "%f": six decimals, no grouping, '.' as the decimal point.
std::string FormatFixed(double value);

// printf "%d".
std::string FormatInt(long long value);

// The shortest text that reads back as the same value.
std::string FormatShortest(float value);
std::string FormatShortest(double value);

// strftime in the "C" locale for the conversions the system uses: %x (mm/dd/yy), %X (HH:MM:SS),
// %m %d %y %H %M %S and %%. Anything else is copied as it stands.
std::string FormatTimeC(std::string_view pattern, const std::tm& time);

// Local broken-down time of a calendar time (the one platform call for time zones).
std::tm ToLocalTime(std::chrono::system_clock::time_point time);

}  // namespace trevane
