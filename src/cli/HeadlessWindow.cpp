#include "cli/HeadlessWindow.h"

#include <ostream>
#include <utility>

#include "cli/TerminalText.h"
#include "common/StopControl.h"

namespace trevane::cli {

HeadlessWindow::HeadlessWindow(std::ostream& out, std::ostream& err, bool outIsTerminal,
                               bool errIsTerminal)
    : outIsTerminal_(outIsTerminal), errIsTerminal_(errIsTerminal), out_(out), err_(err) {}

std::string HeadlessWindow::ForOut(std::string_view text) const {
    return outIsTerminal_ ? EscapeForTerminal(text) : std::string(text);
}

std::string HeadlessWindow::ForErr(std::string_view text) const {
    return errIsTerminal_ ? EscapeForTerminal(text) : std::string(text);
}

void HeadlessWindow::SetAddress(std::string address) {
    std::lock_guard lock(mutex_);
    address_ = std::move(address);
}

void HeadlessWindow::SetAxisChecked(int axis, bool checked) {
    std::lock_guard lock(mutex_);
    if (axis >= 0 && axis < static_cast<int>(axes_.size())) {
        axes_[static_cast<std::size_t>(axis)] = checked;
    }
}

std::string HeadlessWindow::TakeTranscript() {
    std::lock_guard lock(mutex_);
    return std::exchange(transcript_, {});
}

int HeadlessWindow::CommandErrorCount() const {
    std::lock_guard lock(mutex_);
    return commandErrors_;
}

void HeadlessWindow::HoldMessages(bool hold) {
    std::lock_guard lock(mutex_);
    holdMessages_ = hold;
}

std::vector<std::string> HeadlessWindow::TakeHeldMessages() {
    std::lock_guard lock(mutex_);
    return std::exchange(heldMessages_, {});
}

std::string HeadlessWindow::Address() {
    std::lock_guard lock(mutex_);
    return address_.substr(0, 254);  // what the address field can hold
}

void HeadlessWindow::AppendTranscript(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (CurrentThreadStopRequested()) {
        return;  // a stopped test shows nothing more
    }
    transcript_ += text;
}

void HeadlessWindow::CommandFailed(const CommandFailure&) {
    // Counted only: the session watcher has named the command and its reason.
    std::lock_guard lock(mutex_);
    if (!CurrentThreadStopRequested()) {
        ++commandErrors_;
    }
}

void HeadlessWindow::SessionReopened(const std::string& text) {
    // Told once, beside the other notes on standard error, never mixed into a reply.
    std::lock_guard lock(mutex_);
    err_ << "trevane-cli: " << ForErr(text) << '\n' << std::flush;
}

std::string HeadlessWindow::CommandText() {
    std::lock_guard lock(mutex_);
    return command_;
}

void HeadlessWindow::SetCommandText(const std::string& text) {
    std::lock_guard lock(mutex_);
    command_ = text;
}

void HeadlessWindow::SetTestStatus(const std::string& text) {
    // Checked under the lock: an abort stops the test before it prints its own line, so no line
    // of the test can follow "Test Aborted by User".
    std::lock_guard lock(mutex_);
    if (CurrentThreadStopRequested()) {
        return;
    }
    out_ << ForOut(text);
    if (text.empty() || text.back() != '\n') {
        out_ << '\n';
    }
    out_ << std::flush;
}

bool HeadlessWindow::AxisChosen(int axis) {
    std::lock_guard lock(mutex_);
    return axis >= 0 && axis < static_cast<int>(axes_.size()) &&
           axes_[static_cast<std::size_t>(axis)];
}

int HeadlessWindow::JogSpeed() {
    std::lock_guard lock(mutex_);
    return speed_;
}

void HeadlessWindow::ShowMessage(const std::string& text, const std::string& caption, bool) {
    std::lock_guard lock(mutex_);
    if (holdMessages_) {
        heldMessages_.push_back(caption + ": " + text);
        return;
    }
    err_ << caption << ": " << text << '\n' << std::flush;
}

void HeadlessWindow::OpenFolder(const std::string& path) {
    // No file browser to open from a terminal: name the folder instead.
    std::lock_guard lock(mutex_);
    out_ << path << '\n' << std::flush;
}

}  // namespace trevane::cli
