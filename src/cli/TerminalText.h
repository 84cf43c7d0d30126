#pragma once

#include <string>
#include <string_view>

namespace trevane::cli {

// `text` with every control byte other than CR, LF and tab written as \xHH, so that controller
// text cannot clear the screen, retitle the window or move the cursor.
std::string EscapeControlBytes(std::string_view text);

// Controller text as it may go to standard output: escaped on a terminal, unchanged to a pipe
// or a file, where a script wants the bytes the controller sent.
std::string ForStandardOutput(std::string_view text);

}  // namespace trevane::cli
