#pragma once

#include <chrono>
#include <deque>
#include <optional>

#include <QString>

namespace trevane {

// How fresh the status table is: the age of the values it shows, the polls that succeeded in
// the last second and the last poll's round trip. Window's thread only; the caller passes the
// times so that tests can state them.
class LinkHealth {
  public:
    using Clock = std::chrono::steady_clock;
    // Values older than this are shown as stale: ten missed polls.
    static constexpr std::chrono::milliseconds kStaleAfter{100};
    static constexpr std::chrono::seconds kRateWindow{1};

    void ConnectPressed();
    void ConnectEnded();
    // One status tick: when its request went out, when it returned, and whether it wrote the
    // cells.
    void PollDone(Clock::time_point sent, Clock::time_point done, bool written);

    // The values' age counts from the request that fetched them, so a slow reply shows as
    // stale even though the window's thread was busy waiting for it all along.
    std::optional<Clock::duration> Age(Clock::time_point now) const;
    bool Stale(Clock::time_point now, bool connected) const;
    int PollsPerSecond(Clock::time_point now) const;

    // The link's state in one line: "not connected" until the first Connect.
    QString LinkText(Clock::time_point now, bool connected) const;

  private:
    void DropOldPolls(Clock::time_point now) const;

    bool connectPressed_ = false;
    bool connecting_ = false;
    std::optional<Clock::time_point> lastGoodSent_;
    Clock::duration lastRoundTrip_{};
    mutable std::deque<Clock::time_point> goodPolls_;  // completions within the rate window
};

}  // namespace trevane
