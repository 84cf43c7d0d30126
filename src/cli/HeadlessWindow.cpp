#include "cli/CliWindow.h"

#include <iostream>
#include <utility>

#include "cli/TerminalText.h"
#include "common/StopControl.h"
#include "controller/Link.h"

namespace trevane::cli {

CliWindow::CliWindow(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

void CliWindow::SetAddress(std::string address) {
    std::lock_guard lock(mutex_);
    address_ = std::move(address);
}

void CliWindow::SetAxisChecked(int axis, bool checked) {
    std::lock_guard lock(mutex_);
    if (axis >= 0 && axis < static_cast<int>(axes_.size())) {
        axes_[static_cast<std::size_t>(axis)] = checked;
    }
}

void CliWindow::SetSpeedPosition(int position) {
    std::lock_guard lock(mutex_);
    speed_ = position;
}

std::string CliWindow::TakeTranscript() {
    std::lock_guard lock(mutex_);
    return std::exchange(transcript_, {});
}

int CliWindow::CommandErrorCount() const {
    std::lock_guard lock(mutex_);
    return commandErrors_;
}

void CliWindow::HoldMessages(bool hold) {
    std::lock_guard lock(mutex_);
    holdMessages_ = hold;
}

std::vector<std::string> CliWindow::TakeHeldMessages() {
    std::lock_guard lock(mutex_);
    return std::exchange(heldMessages_, {});
}

std::string CliWindow::ReadAddress() {
    std::lock_guard lock(mutex_);
    return address_.substr(0, 254);  // what the address field can hold
}

void CliWindow::AppendTranscript(const std::string& text) {
    static const std::string errorLine = std::string(kCommandErrorText) + "\r\n";
    std::lock_guard lock(mutex_);
    if (CurrentThreadStopRequested()) {
        return;  // a stopped test shows nothing more
    }
    if (text == errorLine) {
        ++commandErrors_;
        err_ << kCommandErrorText << '\n' << std::flush;
        return;
    }
    transcript_ += text;
}

std::string CliWindow::CommandText() {
    std::lock_guard lock(mutex_);
    return command_;
}

void CliWindow::SetCommandText(const std::string& text) {
    std::lock_guard lock(mutex_);
    command_ = text;
}

void CliWindow::SetTestStatus(const std::string& text) {
    // Checked under the lock: an abort stops the test before it prints its own line, so no line
    // of the test can follow "Test Aborted by User".
    std::lock_guard lock(mutex_);
    if (CurrentThreadStopRequested()) {
        return;
    }
    out_ << ForStandardOutput(text);
    if (text.empty() || text.back() != '\n') {
        out_ << '\n';
    }
    out_ << std::flush;
}

bool CliWindow::IsAxisChecked(int axis) {
    std::lock_guard lock(mutex_);
    return axis >= 0 && axis < static_cast<int>(axes_.size()) &&
           axes_[static_cast<std::size_t>(axis)];
}

int CliWindow::SpeedPosition() {
    std::lock_guard lock(mutex_);
    return speed_;
}

void CliWindow::ShowMessage(const std::string& text, const std::string& caption, bool) {
    std::lock_guard lock(mutex_);
    if (holdMessages_) {
        heldMessages_.push_back(caption + ": " + text);
        return;
    }
    err_ << caption << ": " << text << '\n' << std::flush;
}

void CliWindow::OpenFolder(const std::string& path) {
    // No file browser to open from a terminal: name the folder instead.
    std::lock_guard lock(mutex_);
    out_ << path << '\n' << std::flush;
}

std::shared_ptr<CliWindow> TheCliWindow() {
    static const auto window = std::make_shared<CliWindow>(std::cout, std::cerr);
    return window;
}

}  // namespace trevane::cli
