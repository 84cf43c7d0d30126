#include "support/RecordingWindow.h"

namespace trevane::testing {

void RecordingWindow::SetAddress(std::string address) {
    std::lock_guard lock(mutex_);
    address_ = std::move(address);
}
void RecordingWindow::SetAxisChecked(int axis, bool checked) {
    std::lock_guard lock(mutex_);
    axes_[axis] = checked;
}
void RecordingWindow::SetSpeed(int position) {
    std::lock_guard lock(mutex_);
    speed_ = position;
}
void RecordingWindow::TypeCommand(std::string text) {
    std::lock_guard lock(mutex_);
    command_ = std::move(text);
}
void RecordingWindow::EditTranscript(std::string text) {
    std::lock_guard lock(mutex_);
    transcript_ = std::move(text);
}

std::string RecordingWindow::Transcript() const {
    std::lock_guard lock(mutex_);
    return transcript_;
}
int RecordingWindow::ScrollCount() const {
    std::lock_guard lock(mutex_);
    return scrolls_;
}
std::string RecordingWindow::CommandEntry() const {
    std::lock_guard lock(mutex_);
    return command_;
}
std::string RecordingWindow::TestStatus() const {
    std::lock_guard lock(mutex_);
    return status_;
}
std::vector<std::string> RecordingWindow::TestStatusHistory() const {
    std::lock_guard lock(mutex_);
    return statusHistory_;
}
std::string RecordingWindow::RunTestCaption() const {
    std::lock_guard lock(mutex_);
    return caption_;
}
int RecordingWindow::Progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
}
std::string RecordingWindow::Cell(int row, int column) const {
    std::lock_guard lock(mutex_);
    auto it = cells_.find({row, column});
    return it == cells_.end() ? std::string() : it->second;
}
bool RecordingWindow::TimerRunning(int id) const {
    std::lock_guard lock(mutex_);
    auto it = timers_.find(id);
    return it != timers_.end() && it->second;
}
std::vector<RecordingWindow::Message> RecordingWindow::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}
std::vector<std::string> RecordingWindow::OpenedFolders() const {
    std::lock_guard lock(mutex_);
    return folders_;
}

std::string RecordingWindow::ReadAddress() {
    std::lock_guard lock(mutex_);
    return address_.substr(0, 254);
}
void RecordingWindow::AppendTranscript(const std::string& text) {
    std::lock_guard lock(mutex_);
    transcript_ += text;
}
void RecordingWindow::ScrollTranscriptToEnd() {
    std::lock_guard lock(mutex_);
    ++scrolls_;
}
std::string RecordingWindow::CommandText() {
    std::lock_guard lock(mutex_);
    return command_;
}
void RecordingWindow::SetCommandText(const std::string& text) {
    std::lock_guard lock(mutex_);
    command_ = text;
}
void RecordingWindow::SetTestStatus(const std::string& text) {
    std::lock_guard lock(mutex_);
    status_ = text;
    statusHistory_.push_back(text);
}
void RecordingWindow::SetRunTestCaption(const std::string& caption) {
    std::lock_guard lock(mutex_);
    caption_ = caption;
}
void RecordingWindow::SetProgress(int position) {
    std::lock_guard lock(mutex_);
    progress_ = position;
}
void RecordingWindow::SetStatusCell(int row, int column, const std::string& text) {
    std::lock_guard lock(mutex_);
    cells_[{row, column}] = text;
}
bool RecordingWindow::IsAxisChecked(int axis) {
    std::lock_guard lock(mutex_);
    return axis >= 0 && axis < 4 && axes_[axis];
}
int RecordingWindow::SpeedPosition() {
    std::lock_guard lock(mutex_);
    return speed_;
}
void RecordingWindow::StartTimer(int id, int) {
    std::lock_guard lock(mutex_);
    timers_[id] = true;
}
void RecordingWindow::StopTimer(int id) {
    std::lock_guard lock(mutex_);
    timers_[id] = false;
}
void RecordingWindow::ShowMessage(const std::string& text, const std::string& caption,
                                  bool ownedByWindow) {
    std::lock_guard lock(mutex_);
    messages_.push_back({text, caption, ownedByWindow});
}
void RecordingWindow::OpenFolder(const std::string& path) {
    std::lock_guard lock(mutex_);
    folders_.push_back(path);
}

}  // namespace trevane::testing
