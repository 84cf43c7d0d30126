#pragma once

namespace trevane {

// Sends the command entry's whole text unchanged, clears the entry and appends the reply and
// "\r\n" to the transcript. Called by the entry on a typed carriage return.
void SubmitCommand();

}  // namespace trevane
