#include "console/CommandEntry.h"

#include <string>

#include "link/ControllerLink.h"

namespace trevane {

void SubmitCommand(ControllerLink& link) {
    const auto window = link.TheOperator();
    std::string command;
    try {
        // Sent as typed: not trimmed, not checked for being empty, pasted line breaks kept.
        command = window->CommandText();
        const std::string reply = link.SendCommand(command);
        window->SetCommandText("");
        window->AppendTranscript(reply + "\r\n");
        window->ScrollTranscriptToEnd();
    } catch (...) {
        // A failure outside the exchange (the link reports its own) ends the submission.
        try {
            window->CommandFailed({command, "the command entry failed", false});
        } catch (...) {
            // Nothing is left to tell the operator with; the entry must not bring the window down.
        }
    }
}

}  // namespace trevane
