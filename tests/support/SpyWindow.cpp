#include "support/SpyWindow.h"

namespace trevane::testing {

void SpyWindow::SetAddress(std::string address) {
    std::lock_guard lock(mutex_);
    address_ = std::move(address);
}
void SpyWindow::SetAxisChecked(int axis, bool checked) {
    std::lock_guard lock(mutex_);
    axes_[axis] = checked;
}
void SpyWindow::SetSpeed(int position) {
    std::lock_guard lock(mutex_);
    speed_ = position;
}
void SpyWindow::TypeCommand(std::string text) {
    std::lock_guard lock(mutex_);
    command_ = std::move(text);
}
void SpyWindow::EditTranscript(std::string text) {
    std::lock_guard lock(mutex_);
    transcript_ = std::move(text);
}

std::string SpyWindow::Transcript() const {
    std::lock_guard lock(mutex_);
    return transcript_;
}
int SpyWindow::ScrollCount() const {
    std::lock_guard lock(mutex_);
    return scrolls_;
}
std::string SpyWindow::CommandEntry() const {
    std::lock_guard lock(mutex_);
    return command_;
}
std::string SpyWindow::TestStatus() const {
    std::lock_guard lock(mutex_);
    return status_;
}
std::vector<std::string> SpyWindow::TestStatusHistory() const {
    std::lock_guard lock(mutex_);
    return statusHistory_;
}
std::string SpyWindow::RunTestCaption() const {
    std::lock_guard lock(mutex_);
    return caption_;
}
int SpyWindow::Progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
}
std::string SpyWindow::Cell(int row, int column) const {
    std::lock_guard lock(mutex_);
    auto it = cells_.find({row, column});
    return it == cells_.end() ? std::string() : it->second;
}
bool SpyWindow::TimerRunning(int id) const {
    std::lock_guard lock(mutex_);
    auto it = timers_.find(id);
    return it != timers_.end() && it->second;
}
std::vector<SpyWindow::Message> SpyWindow::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}
std::vector<std::string> SpyWindow::OpenedFolders() const {
    std::lock_guard lock(mutex_);
    return folders_;
}

std::vector<CommandFailure> SpyWindow::Failures() const {
    std::lock_guard lock(mutex_);
    return failures_;
}
std::vector<std::string> SpyWindow::Reopenings() const {
    std::lock_guard lock(mutex_);
    return reopenings_;
}
std::pair<SessionStatus, SessionStatus> SpyWindow::Sessions() const {
    std::lock_guard lock(mutex_);
    return {commandSession_, recordSession_};
}

std::string SpyWindow::Address() {
    std::lock_guard lock(mutex_);
    return address_.substr(0, 254);
}
void SpyWindow::AppendTranscript(const std::string& text) {
    std::lock_guard lock(mutex_);
    transcript_ += text;
}
void SpyWindow::ScrollTranscriptToEnd() {
    std::lock_guard lock(mutex_);
    ++scrolls_;
}
std::string SpyWindow::CommandText() {
    std::lock_guard lock(mutex_);
    return command_;
}
void SpyWindow::SetCommandText(const std::string& text) {
    std::lock_guard lock(mutex_);
    command_ = text;
}
void SpyWindow::CommandFailed(const CommandFailure& failure) {
    {
        std::lock_guard lock(mutex_);
        failures_.push_back(failure);
    }
    Operator::CommandFailed(failure);
}
void SpyWindow::SessionReopened(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        reopenings_.push_back(text);
    }
    Operator::SessionReopened(text);
}
void SpyWindow::SessionChanged(const SessionStatus& command, const SessionStatus& record) {
    std::lock_guard lock(mutex_);
    commandSession_ = command;
    recordSession_ = record;
}
void SpyWindow::SetTestStatus(const std::string& text) {
    std::lock_guard lock(mutex_);
    status_ = text;
    statusHistory_.push_back(text);
}
void SpyWindow::TestRunningChanged(bool running) {
    std::lock_guard lock(mutex_);
    caption_ = running ? "Abort Test" : "Run Auto Test";
    if (running) {
        timers_[IDT_PROGRESS] = true;
    }
}
void SpyWindow::SetProgress(int position) {
    std::lock_guard lock(mutex_);
    progress_ = position;
}
void SpyWindow::PollingChanged(bool polling) {
    std::lock_guard lock(mutex_);
    timers_[IDT_STATUS] = polling;
}
void SpyWindow::ShowStatus(const StatusTable& values) {
    std::lock_guard lock(mutex_);
    for (int axis = 0; axis < 4; ++axis) {
        for (int row = 0; row < 13; ++row) {
            cells_[{row, axis + 1}] = values[static_cast<std::size_t>(axis)][static_cast<std::size_t>(row)];
        }
    }
}
bool SpyWindow::AxisChosen(int axis) {
    std::lock_guard lock(mutex_);
    return axis >= 0 && axis < 4 && axes_[axis];
}
int SpyWindow::JogSpeed() {
    std::lock_guard lock(mutex_);
    return speed_;
}
void SpyWindow::ShowMessage(const std::string& text, const std::string& caption,
                            bool ownedByWindow) {
    std::lock_guard lock(mutex_);
    messages_.push_back({text, caption, ownedByWindow});
}
void SpyWindow::OpenFolder(const std::string& path) {
    std::lock_guard lock(mutex_);
    folders_.push_back(path);
}

}  // namespace trevane::testing
