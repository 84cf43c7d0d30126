#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QMessageBox>
#include <QString>
#include <QTimer>

#include "app/MainWindow.h"
#include "sim/Simulator.h"
#include "support/ControllerUnderTest.h"
#include "support/ScratchFolder.h"

namespace trevane::testing {

// Every window test runs in a fresh temporary working directory (the test log, the dump and the
// configuration file live there) with the link pointed at an in-process simulated controller.
class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Constructs the dialog now (reading the working directory's configuration) and shows it.
    MainWindow& OpenDialog();
    MainWindow& Dialog() { return *dialog_; }
    void CloseDialog();

    void WriteConfig(const std::string& contents,
                     const std::filesystem::path& folder = std::filesystem::current_path());
    // Presses Connect and expects the connection to be made.
    void Connect();
    QString Transcript();
    // Where the command entry keeps its history in this test: inside the working directory.
    QString HistoryFile() const;

    ScopedWorkingFolder folder_{"trevane-window"};
    const std::filesystem::path workDir_ = folder_.Path();
    std::shared_ptr<sim::Machine> machine_;

  private:
    ControllerGuard controller_;
    std::unique_ptr<MainWindow> dialog_;
};

// What a message box showed before the watcher closed it with OK.
struct SeenMessageBox {
    QString caption;
    QString text;
    QString detailedText;
    QMessageBox::Icon icon;
    int buttonCount;
    bool hasOkButton;
    QWidget* owner;
};

// Closes every message box that opens while it lives, and remembers what each showed.
class MessageBoxWatcher {
  public:
    MessageBoxWatcher();
    const std::vector<SeenMessageBox>& Seen() const { return seen_; }
    // Called while the box is open, before it is closed.
    std::function<void()> whileOpen;

  private:
    void Poll();
    QTimer timer_;
    std::vector<SeenMessageBox> seen_;
};

}  // namespace trevane::testing
