#pragma once

#include <memory>
#include <string>

#include <QApplication>

namespace trevane {

// Why no window can be opened on this machine, or "" when a display can be expected. Checked
// before Qt starts, because Qt's answer to a missing display is to abort the process.
std::string MissingDisplayReason(int argc, char** argv);

// Constructs the application object. Should the window system still refuse (a display that is
// set but cannot be reached), the process ends with one line on standard error and exit code 1
// instead of Qt's abort.
std::unique_ptr<QApplication> StartApplication(int& argc, char** argv);

}  // namespace trevane
