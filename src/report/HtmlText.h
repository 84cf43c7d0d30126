#pragma once

#include <string>
#include <string_view>

// Text for the report's HTML pages.
namespace trevane::html {

// Text from the controller goes into a page as characters only: markup is escaped, a byte that
// is not part of UTF-8 is read as Latin-1 (what an 8-bit code page most likely meant), and
// control characters show as U+FFFD.
void AppendEscaped(std::string& out, std::string_view text);
std::string Escaped(std::string_view text);

// A file name as a relative link: every byte outside the unreserved set is percent-encoded.
std::string LinkTo(std::string_view name);

}  // namespace trevane::html
