#pragma once

#include <string>
#include <string_view>

namespace trevane::cli {

// `text` as it may reach a terminal: valid UTF-8, LF, tab and a CR that ends a line pass; every
// other C0 control, DEL, the C1 controls U+0080..U+009F (0x9B alone starts an escape sequence on
// some terminals) and every byte that is not part of valid UTF-8 are written as \xNN, byte by byte.
// So text from a controller can neither clear the screen, retitle the window nor move the cursor.
std::string EscapeForTerminal(std::string_view text);

}  // namespace trevane::cli
