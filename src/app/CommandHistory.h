#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace trevane {

// The commands the operator sent from the entry, most recent first, for recall with Up and
// Down. Plain C++ so that the window and its tests share the rules without a display.
class CommandHistory {
  public:
    static constexpr std::size_t kCapacity = 1000;

    // Keeps `command` as the most recent unless it is empty or repeats the most recent (then
    // false); ends a recall under way either way.
    bool Add(const std::string& command);

    // One step back: the next older command. The first step keeps `shown` (what the entry held)
    // so that stepping forward past the most recent gives it back. Nothing past the oldest.
    std::optional<std::string> Older(const std::string& shown);
    // One step forward; nothing when no recall is under way.
    std::optional<std::string> Newer();
    bool Recalling() const { return position_ >= 0; }

    const std::deque<std::string>& Entries() const { return entries_; }

    // One command a line, oldest first; "\\", "\r" and "\n" inside a command are escaped.
    std::string Serialise() const;
    // The lines of Serialise(); the newest kCapacity are kept.
    static CommandHistory Parse(std::string_view text);

    // Reads `path`; a missing file is an empty history, not a failure. Returns what failed.
    std::optional<std::string> Load(const std::string& path);
    // Replaces `path` whole (its folder made first) or leaves it as it was; returns what failed.
    std::optional<std::string> Save(const std::string& path) const;

  private:
    std::deque<std::string> entries_;  // newest first
    int position_ = -1;                // index of the entry shown; -1: the operator's own text
    std::string draft_;
};

}  // namespace trevane
