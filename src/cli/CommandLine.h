#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/VerbContext.h"

namespace trevane {
class Clock;
class QueuedOutput;
}  // namespace trevane

namespace trevane::cli {

class RunControl;

// What whoever runs a command line gives it: where it prints, which clock it waits on, how it
// reaches a controller and where its interrupts arrive. The program gives its standard streams,
// the real clock and TCP sessions; a test gives string streams, a virtual clock and sessions on
// an in-process controller.
struct CliEnvironment {
    CliEnvironment(std::ostream& out_, std::ostream& err_) : out(out_), err(err_) {}

    std::ostream& out;
    std::ostream& err;
    // Text from a controller reaches a terminal escaped.
    bool outIsTerminal = false;
    bool errIsTerminal = false;
    // Installed as the system clock for the run, and the previous one put back after it; none:
    // the one in use.
    std::shared_ptr<Clock> clock;
    // Needed by every verb that reaches a controller; none: they fail.
    SessionOpener openSessions;
    // TREVANE_HISTORY.
    std::optional<std::string> historyVariable;
    // Standard output's queue, which "--trace -" joins so that the trace and the verb's lines
    // keep their order; none: "-" is opened as a file.
    std::shared_ptr<QueuedOutput> outputQueue;
    // Where interrupts arrive (a program's signal handlers call Arrive on it); a fresh one when
    // none. Its watch hooks are the caller's to set.
    std::shared_ptr<RunControl> control;
};

// Runs one command line (the arguments after the program's name) to its end and returns its
// exit code. With --json a failure ends the output with one error object.
int RunCommandLine(const std::vector<std::string>& arguments, CliEnvironment& environment);

}  // namespace trevane::cli
