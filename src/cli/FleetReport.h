#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Fleet.h"

// What a fleet shows while it runs and leaves at its end.
namespace trevane::cli {

inline constexpr const char* kFleetSummaryFile = "fleet-summary.html";

// One line per controller: redrawn in place on a terminal, one line per change otherwise, or
// one JSON object per change.
class FleetDisplay {
  public:
    enum class Mode { Terminal, Lines, Json };
    // `outputBroken` hears that `out` failed: no one reads any more.
    FleetDisplay(Mode mode, const std::vector<FleetMember>& members, std::ostream& out,
                 std::function<void()> outputBroken);

    void Changed(std::size_t index);
    // Draws what is still due (the terminal's last redraw).
    void Flush();

  private:
    std::string Line(const FleetMember& member) const;
    void Redraw();

    Mode mode_;
    const std::vector<FleetMember>& members_;
    std::ostream& out_;
    std::function<void()> outputBroken_;
    std::size_t nameWidth_ = 4;
    bool drawn_ = false;
    bool due_ = false;
    std::chrono::steady_clock::time_point lastDrawn_;
};

// "NAME  ADDRESS  RESULT  SECONDS  DETAIL" rows and a closing count line.
std::string FleetSummaryTable(const std::vector<FleetMember>& members);
// "4 controllers: 2 passed, 1 failed, 1 not run".
std::string FleetCountLine(const std::vector<FleetMember>& members);
// The page linking each controller's report, log and trace; relative links, so the fleet
// folder can be moved whole.
std::string FleetSummaryHtml(const std::vector<FleetMember>& members, const std::string& title);

}  // namespace trevane::cli
