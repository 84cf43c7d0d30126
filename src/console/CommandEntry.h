#pragma once

namespace trevane {

class ControllerLink;

// Sends the command entry's whole text unchanged, clears the entry and appends the reply and
// "\r\n" to the transcript. Called by the entry on a typed carriage return.
void SubmitCommand(ControllerLink& link);

}  // namespace trevane
