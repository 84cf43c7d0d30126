#pragma once

#include <set>
#include <string>
#include <vector>

#include "support/JsonValue.h"

// docs/cli-json.md as a list of names per verb, to hold each verb's JSON output against it.
namespace trevane::testing {

// The names a section ("## send") lists as "- `name`: ..." or "- `one`, `two`: ...".
std::set<std::string> SectionJsonNames(const std::string& page, const std::string& heading);

// The names a verb's section and the "## Every verb" section list.
std::set<std::string> DocumentedJsonNames(const std::string& page, const std::string& verb);

// The member names, at any depth, of `lines` that `documented` lacks; the names of the axis
// objects of a record ("X" ... "W") count like any other.
std::vector<std::string> UndocumentedNames(const std::vector<JsonValue>& lines,
                                           const std::set<std::string>& documented);

// The whole page, read from the source tree; empty when it cannot be read.
std::string ReadCliJsonPage(const std::string& sourceDir);

}  // namespace trevane::testing
