#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "common/QueuedOutput.h"

// trevane-cli's standard output and error, written by threads of their own: a reader that stops
// (a paused pager, a full pipe) holds up neither a verb nor the stop it sends to the controller.
namespace trevane::cli {

class RunControl;

// Room for a long history listing or a record watch on a pipe that is read slowly; beyond it a
// stopped reader costs output, never the command path.
inline constexpr QueueBound kStandardOutputBound{1u << 20, 16u << 20};
// At the end the program waits for its reader while the reader keeps taking bytes, and gives up
// once it has taken none for this long (or on an interrupt).
inline constexpr std::chrono::seconds kFinishStall{30};

// From now on std::cout, std::cerr and std::clog go through the queues. A failed write to
// standard output counts as a broken output of `control`'s run; the stream's next flush fails.
// An interrupt of that run cuts the wait at the end short.
void QueueStandardOutputs(std::shared_ptr<RunControl> control);
// Standard output's queue, for a trace written there; null before QueueStandardOutputs.
std::shared_ptr<QueuedOutput> StandardOutputQueue();
// Waits for the queues as kFinishStall says, then writes directly again. True when standard
// output lost bytes, which it has reported ("standard output: why (N byte(s) not written)").
bool FinishStandardOutputs();
// Before the program ends at once: at most `bound` for what is queued.
void DrainStandardOutputs(std::chrono::milliseconds bound);

}  // namespace trevane::cli
