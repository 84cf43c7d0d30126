#pragma once

#include <optional>
#include <string>

// `--trace FILE`: every exchange of both sessions, one line each, as the traffic recorder
// formats it. Record polls are written one by one, not sampled.
namespace trevane::cli {

// Starts FILE empty and sends the recorder's every exchange to it. Returns why not when FILE
// cannot be written.
std::optional<std::string> StartTrace(const std::string& path);

// Stops writing; returns what went wrong meanwhile (the first failure and how many lines were
// lost), or nothing when every line is in the file.
std::optional<std::string> StopTrace();

}  // namespace trevane::cli
