#include "link/WindowOps.h"

#include <mutex>

namespace trevane {
namespace {

class NoWindow final : public WindowOps {
  public:
    std::string ReadAddress() override { return {}; }
    void AppendTranscript(const std::string&) override {}
    void ScrollTranscriptToEnd() override {}
    std::string CommandText() override { return {}; }
    void SetCommandText(const std::string&) override {}
    void SetTestStatus(const std::string&) override {}
    void SetRunTestCaption(const std::string&) override {}
    void SetProgress(int) override {}
    void SetStatusCell(int, int, const std::string&) override {}
    bool IsAxisChecked(int) override { return false; }
    int SpeedPosition() override { return 0; }
    void StartTimer(int, int) override {}
    void StopTimer(int) override {}
    void ShowMessage(const std::string&, const std::string&, bool) override {}
    void OpenFolder(const std::string&) override {}
};

std::mutex g_windowMutex;
std::shared_ptr<WindowOps> g_window;

}  // namespace

std::shared_ptr<WindowOps> Window() {
    static const std::shared_ptr<WindowOps> none = std::make_shared<NoWindow>();
    std::lock_guard lock(g_windowMutex);
    return g_window ? g_window : none;
}

void SetWindow(std::shared_ptr<WindowOps> window) {
    std::lock_guard lock(g_windowMutex);
    g_window = std::move(window);
}

}  // namespace trevane
