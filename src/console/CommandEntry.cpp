#include "console/CommandEntry.h"

#include <string>

#include "link/Link.h"
#include "link/WindowOps.h"

namespace trevane {

void SubmitCommand() {
    const auto window = Window();
    try {
        // Sent as typed: not trimmed, not checked for being empty, pasted line breaks kept.
        const std::string command = window->CommandText();
        const std::string reply = SendCommand(command);
        window->SetCommandText("");
        window->AppendTranscript(reply + "\r\n");
        window->ScrollTranscriptToEnd();
    } catch (...) {
        // A failure outside the exchange (SendCommand reports its own) ends the submission.
        try {
            window->AppendTranscript(std::string(kCommandErrorText) + "\r\n");
            window->ScrollTranscriptToEnd();
        } catch (...) {
            // Nothing is left to tell the operator with; the entry must not bring the window down.
        }
    }
}

}  // namespace trevane
