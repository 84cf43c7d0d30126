#include "link/Link.h"

#include "common/StopControl.h"
#include "link/WindowOps.h"
#include "traffic/TrafficRecorder.h"
#include "traffic/TrafficTap.h"

namespace trevane {

SessionSlot g_controller;
SessionSlot g_recordController;
std::atomic<bool> g_connected{false};

namespace {

std::mutex g_factoryMutex;
SessionFactory g_factory;

std::mutex g_connectFailureMutex;
std::string g_connectFailure;

void SetConnectFailure(std::string text) {
    std::lock_guard lock(g_connectFailureMutex);
    g_connectFailure = std::move(text);
}

void ReportCommandError() {
    auto window = Window();
    window->AppendTranscript(std::string(kCommandErrorText) + "\r\n");
    window->ScrollTranscriptToEnd();
}

std::shared_ptr<MotionClient> OpenSession(const SessionFactory& factory, const std::string& address,
                                          const char* name) {
    std::shared_ptr<MotionClient> session = factory(address);
    if (!session) {
        throw MotionError("no session could be opened to '" + address + "'");
    }
    return TapSession(std::move(session), name, Traffic());
}

}  // namespace

void SetSessionFactory(SessionFactory factory) {
    std::lock_guard lock(g_factoryMutex);
    g_factory = std::move(factory);
}

SessionFactory GetSessionFactory() {
    std::lock_guard lock(g_factoryMutex);
    return g_factory;
}

std::string LastConnectFailure() {
    std::lock_guard lock(g_connectFailureMutex);
    return g_connectFailure;
}

std::string SendCommand(const std::string& command) {
    ThrowIfStopRequested();
    std::shared_ptr<MotionClient> session = g_controller.Get();
    if (session) {
        try {
            std::string reply = session->command(command, "\r", ":", true);
            ThrowIfStopRequested();
            return reply;
        } catch (const TestAborted&) {
            throw;
        } catch (...) {
            // Any failure of the link: the operator sees the fixed line, never the details.
        }
    }
    ThrowIfStopRequested();
    ReportCommandError();
    return {};
}

void CloseLink() {
    g_connected = false;
    g_controller.Reset();
    g_recordController.Reset();
}

void OnConnect() {
    auto window = Window();
    g_connected = false;
    window->StopTimer(IDT_STATUS);
    g_controller.Reset();
    g_recordController.Reset();
    const std::string address = window->ReadAddress();
    const char* step = "opening the command session";
    try {
        SessionFactory factory = GetSessionFactory();
        if (!factory) {
            throw MotionError("no controller link is set up for '" + address + "'");
        }
        g_controller.Set(OpenSession(factory, address, "command"));
        step = "opening the record session";
        g_recordController.Set(OpenSession(factory, address, "record"));
        SendCommand("HX");
        step = "asking the controller for its identity";
        std::shared_ptr<MotionClient> session = g_controller.Get();
        const std::string description = session->connection();
        window->AppendTranscript(description + "\r\n");
        window->StartTimer(IDT_STATUS, kTimerPeriodMs);
        SetConnectFailure({});
        g_connected = true;
    } catch (const std::exception& error) {
        SetConnectFailure(std::string(step) + ": " + error.what());
        window->ShowMessage(kConnectionFailedText, kMessageCaption, true);
    } catch (...) {
        SetConnectFailure(std::string(step) + " failed");
        window->ShowMessage(kConnectionFailedText, kMessageCaption, true);
    }
}

}  // namespace trevane
