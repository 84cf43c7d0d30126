#pragma once

#include <cstddef>
#include <string_view>

namespace trevane {

// The length of the well-formed UTF-8 sequence at the start of `text`: 1 for ASCII, 2 to 4 for
// the rest, 0 for none (empty text, a stray or truncated sequence, an overlong form, a surrogate
// or anything above U+10FFFF).
std::size_t Utf8SequenceLength(std::string_view text);

}  // namespace trevane
