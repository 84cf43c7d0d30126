#pragma once

// A program of ours run with its output on a pseudo-terminal, for the tests of what reaches an
// operator's screen. POSIX only.
#ifndef _WIN32

#include <filesystem>
#include <string>
#include <vector>

namespace trevane::testing {

// Runs `program` with `arguments` in `workingFolder` (the test's own when empty), standard output
// and error on one raw pseudo-terminal, standard input from /dev/null, and returns every byte
// that reached the terminal, as the program wrote it.
std::string RunOnTerminal(const std::string& program, const std::vector<std::string>& arguments,
                          const std::filesystem::path& workingFolder = {});

}  // namespace trevane::testing

#endif
