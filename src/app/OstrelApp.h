#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QString>

namespace trevane {

namespace sim {
class Machine;
class Server;
}  // namespace sim

class COstrelDlg;

struct StartOptions {
    // Serve an embedded simulated controller on a free loopback port and point the window at it.
    bool simulate = false;
    // Connect, let the status table fill, save a picture of the window there and end.
    QString screenshotPath;
};

// Reads the program's options (Qt's own already removed). Returns nullopt after writing one line
// naming the bad option to `error`.
std::optional<StartOptions> ParseStartOptions(const std::vector<QString>& arguments,
                                              std::string& error);
std::string UsageText();

// Drives `dialog` through a short session once its loop runs, saves a picture of it to `path`
// and ends it. Ends it within `bound` whatever happens, closing any message box left open, and
// sets `exitCode` to 1 when the session could not be made or the picture not written.
void ScheduleScreenshot(COstrelDlg& dialog, const QString& path, int& exitCode,
                        std::chrono::milliseconds bound = std::chrono::seconds(30));

// The application object: links the controller sessions to the configured port (or to the
// embedded simulated controller), shows the main dialog until it ends, and tidies up after it.
class COstrelApp {
  public:
    explicit COstrelApp(StartOptions options);
    ~COstrelApp();
    COstrelApp(const COstrelApp&) = delete;
    COstrelApp& operator=(const COstrelApp&) = delete;

    // The start-up; returns when the dialog has ended. False, as no message loop follows it.
    bool InitInstance();
    int ExitCode() const { return exitCode_; }

  private:
    void ConfigureLink();
    void ConfigureHistoryServer();

    StartOptions options_;
    std::shared_ptr<sim::Machine> machine_;
    std::unique_ptr<sim::Server> server_;
    int exitCode_ = 0;
};

}  // namespace trevane
