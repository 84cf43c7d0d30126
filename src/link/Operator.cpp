#include "link/Operator.h"

namespace trevane {

void Operator::CommandFailed(const CommandFailure&) {
    AppendTranscript(std::string(kCommandErrorText) + "\r\n");
    ScrollTranscriptToEnd();
}

void Operator::JogRefused(const std::string&) {}

void Operator::SessionReopened(const std::string& text) {
    AppendTranscript(text + "\r\n");
    ScrollTranscriptToEnd();
}

void Operator::SessionChanged(const SessionStatus&, const SessionStatus&) {}

}  // namespace trevane
