#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "controller/Controller.h"

// The controller a test drives. Each test makes its own through a ControllerGuard; the
// functions below act on it, named as the window's handlers call them, so that a test reads as
// the operator's steps.
namespace trevane::testing {

// The guard's controller; a test without a guard alive fails here.
Controller& TheController();

// Makes a fresh controller (on the real clock until the test installs another) and destroys it
// when it goes: its test threads stop first, so nothing uses a session as it closes. Declare it
// after anything a test thread may still use (a working folder).
class ControllerGuard {
  public:
    ControllerGuard();
    ~ControllerGuard();
    ControllerGuard(const ControllerGuard&) = delete;
    ControllerGuard& operator=(const ControllerGuard&) = delete;

    Controller& operator*() { return *controller_; }
    Controller* operator->() { return controller_.get(); }

  private:
    std::unique_ptr<Controller> controller_;
    Controller* previous_;
};

inline ControllerLink& Link() { return TheController().Link(); }
inline bool Connected() { return Link().Connected(); }
inline void SetWindow(std::shared_ptr<Operator> panel) { Link().SetOperator(std::move(panel)); }
inline std::shared_ptr<Operator> Window() { return Link().TheOperator(); }
inline void SetSessionFactory(SessionFactory factory) { Link().SetSessionFactory(std::move(factory)); }
inline void OnConnect() { Link().Connect(); }
inline void CloseLink() { Link().Close(); }
inline std::string SendCommand(const std::string& command) { return Link().SendCommand(command); }
inline TestFlags& TestState() { return Link().Test(); }
inline TrafficRecorder& Traffic() { return TheController().Traffic(); }
inline TestRecorder& Recorder() { return TheController().Recorder(); }
inline TestLog& Log() { return TheController().Log(); }
inline void MakeLogFileName() { Log().MakeFileName(); }
inline std::string LogFilePath() { return Log().FilePath(); }
inline void WriteLog(const std::string& message, const std::string& suffix) {
    Log().Write(message, suffix);
}
inline void OnRunAutoTest() { TheController().Runner().OnRunAutoTest(); }
inline void AbortTest() { TheController().Runner().Abort(); }
inline bool WaitForTestEnd(std::chrono::milliseconds timeout) {
    return TheController().Runner().WaitForEnd(timeout);
}
inline void StopAndJoinTestThreads() { TheController().Runner().StopAndJoin(); }
inline bool AnyTestThreadAlive() { return TheController().Runner().AnyThreadAlive(); }
inline bool LastTestCompleted() { return TheController().Runner().LastTestCompleted(); }
inline std::optional<TestVerdict> LastTestVerdict() {
    return TheController().Conclusion().LastVerdict();
}
inline std::optional<TestReportResult> LastTestReport() {
    return TheController().Conclusion().LastReport();
}
inline void SetTestReportEnabled(bool enabled) {
    TheController().Conclusion().SetReportEnabled(enabled);
}
inline history::TestHistory& History() { return TheController().History(); }
inline bool UpdateStatusTable() { return TheController().Monitor().Poll(); }

}  // namespace trevane::testing
