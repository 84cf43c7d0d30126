#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QString>

namespace trevane {

class Controller;

namespace sim {
class Machine;
class Server;
}  // namespace sim

class MainWindow;

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
void ScheduleScreenshot(MainWindow& dialog, const QString& path, int& exitCode,
                        std::chrono::milliseconds bound = std::chrono::seconds(30));

// The window program: links the controller sessions to the configured port (or to the
// embedded simulated controller), shows the main dialog until it ends, and tidies up after it.
class WindowProgram {
  public:
    explicit WindowProgram(StartOptions options);
    ~WindowProgram();
    WindowProgram(const WindowProgram&) = delete;
    WindowProgram& operator=(const WindowProgram&) = delete;

    // Shows the main window until it ends; returns the program's exit code.
    int Run();

  private:
    void ConfigureLink();
    void ConfigureHistoryServer();

    StartOptions options_;
    std::shared_ptr<sim::Machine> machine_;
    std::unique_ptr<sim::Server> server_;
    // After the embedded controller, so that its sessions end before the controller they talk
    // to.
    std::unique_ptr<Controller> controller_;
    int exitCode_ = 0;
};

}  // namespace trevane
