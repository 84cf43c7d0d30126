// trevane-sim: the simulated four-axis controller, served over TCP until SIGINT or SIGTERM.
#include <charconv>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

#include "common/Platform.h"
#include "sim/Replay.h"
#include "sim/Simulator.h"

namespace {

using namespace trevane;

constexpr int kExitUsage = 2;

#ifdef _WIN32
// Ctrl-C, Ctrl-Break and closing the console. The handler runs on a thread of its own; for a
// close Windows ends the process once it returns, so it waits (bounded) for the server to stop.
HANDLE g_stopAsked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
HANDLE g_stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);

BOOL WINAPI HandleConsoleEvent(DWORD event) {
    SetEvent(g_stopAsked);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        WaitForSingleObject(g_stopped, 4000);
    }
    return TRUE;
}
#endif

// Waits for SIGINT or SIGTERM. On POSIX both are blocked before any thread starts and taken with
// sigwait on the main thread, so no thread can be picked to run a handler and the stop never
// depends on which thread the kernel delivers to (sanitizer runtimes defer handlers).
class StopSignals {
  public:
    StopSignals() {
#ifdef _WIN32
        SetConsoleCtrlHandler(HandleConsoleEvent, TRUE);
#else
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set_, nullptr);
#endif
    }
    void Wait() {
#ifdef _WIN32
        WaitForSingleObject(g_stopAsked, INFINITE);
#else
        int signal = 0;
        while (sigwait(&set_, &signal) != 0) {
        }
#endif
    }

  private:
#ifndef _WIN32
    sigset_t set_;
#endif
};

struct Options {
    std::string bind = "127.0.0.1";
    int port = sim::kDefaultSimulatorPort;
    std::vector<sim::Fault> faults;
    sim::Server::Options server;
    std::string replay;  // a trace file to serve instead of the machine
    double replaySpeed = 1.0;
    bool help = false;
    bool version = false;
};

void PrintHelp() {
    std::cout
        << "Usage: trevane-sim [--bind ADDR] [--port N] [--fault FAULT]... [--idle-timeout S]\n"
           "       trevane-sim --replay FILE [--replay-speed F] [--bind ADDR] [--port N]\n"
           "Serves a simulated four-axis controller (X, Y, Z, W) on TCP until SIGINT or\n"
           "SIGTERM. Prints \"listening on ADDR:PORT\" once ready.\n\n"
           "Options:\n"
           "  --bind ADDR     address to listen on (default 127.0.0.1)\n"
           "  --port N        port to listen on, 0 for a free one (default "
        << sim::kDefaultSimulatorPort
        << ";\n"
           "                  a real controller uses 23, which needs root)\n"
           "  --fault FAULT   make a fault on purpose; may be given more than once\n"
           "  --idle-timeout S  close a connection after S seconds without a request\n"
           "                  (default 60)\n"
           "  --replay FILE   serve the exchanges of a trace (trevane-cli --trace, the\n"
           "                  Traffic window's recording) instead of the machine: each\n"
           "                  request gets the reply recorded for it next, data records\n"
           "                  follow the recorded time, an unknown request gets \"?\"; at the\n"
           "                  end prints how many requests matched, repeated or were\n"
           "                  unknown. A trace that would take more than "
        << (sim::Replay::kMaxHeldBytes >> 20)
        << " MiB of memory\n"
           "                  (some millions of exchanges) is refused, naming its line\n"
           "  --replay-speed F  play the data records' recorded time F times as fast\n"
           "                  (0.01 to 100, default 1); other replies come as they are\n"
           "                  asked for: a test's own waits are the client's and stay\n"
           "                  as long as ever\n"
           "  --help          show this text\n"
           "  --version       print the version\n\n"
           "Faults:\n"
        << sim::FaultHelp() << "\n"
        << sim::PowerOnHelp() << "\n"
        << sim::RecordHelp();
}

int UsageError(const std::string& message) {
    std::cerr << "trevane-sim: " << message << "\n";
    return kExitUsage;
}

// Fills `options`; returns an exit code when the program should stop here.
int ParseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            continue;
        }
        if (argument == "--version") {
            options.version = true;
            continue;
        }
        if (argument != "--bind" && argument != "--port" && argument != "--fault" &&
            argument != "--idle-timeout" && argument != "--replay" &&
            argument != "--replay-speed") {
            return UsageError("unknown option '" + argument + "' (see --help)");
        }
        if (i + 1 >= argc) {
            return UsageError(argument + " needs a value");
        }
        const std::string value = argv[++i];
        if (argument == "--bind") {
            options.bind = value;
        } else if (argument == "--port") {
            const bool digits = !value.empty() && value.size() <= 5 &&
                                value.find_first_not_of("0123456789") == std::string::npos;
            if (!digits || std::stoi(value) > 65535) {
                return UsageError("--port '" + value + "' is not a port number 0..65535");
            }
            options.port = std::stoi(value);
        } else if (argument == "--idle-timeout") {
            const bool digits = !value.empty() && value.size() <= 6 &&
                                value.find_first_not_of("0123456789") == std::string::npos;
            if (!digits || std::stoi(value) < 1) {
                return UsageError("--idle-timeout '" + value +
                                  "' is not a number of seconds 1..999999");
            }
            options.server.idleTimeout = std::chrono::seconds(std::stoi(value));
        } else if (argument == "--replay") {
            options.replay = value;
        } else if (argument == "--replay-speed") {
            double speed = 0;
            const auto [end, ec] =
                std::from_chars(value.data(), value.data() + value.size(), speed);
            if (ec != std::errc{} || end != value.data() + value.size() ||
                !(speed >= sim::Replay::kMinSpeed && speed <= sim::Replay::kMaxSpeed)) {
                return UsageError("--replay-speed '" + value + "' is not a number 0.01..100");
            }
            options.replaySpeed = speed;
        } else {
            try {
                options.faults.push_back(sim::ParseFault(value));
            } catch (const std::invalid_argument& error) {
                return UsageError(error.what());
            }
        }
    }
    if (!options.replay.empty() && !options.faults.empty()) {
        return UsageError("--fault cannot be used with --replay: the trace holds the faults");
    }
    if (options.replay.empty() && options.replaySpeed != 1.0) {
        return UsageError("--replay-speed needs --replay");
    }
    return -1;
}

// The trace ready to serve, or nothing after naming the file and the line that is wrong (or at
// which the trace grew too large to hold).
std::shared_ptr<sim::Replay> LoadReplay(const std::string& path, double speed) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "trevane-sim: --replay '" << path << "': cannot be opened\n";
        return nullptr;
    }
    try {
        return std::make_shared<sim::Replay>(in, std::make_shared<RealClock>(), speed);
    } catch (const TraceError& error) {
        std::cerr << "trevane-sim: --replay '" << path << "': " << error.what() << "\n";
        return nullptr;
    }
}

int Serve(const Options& options, std::shared_ptr<sim::Responder> responder) {
    // Signals first: a SIGTERM right after the "listening" line must not kill the process,
    // and the server's threads must inherit the blocked mask.
    StopSignals stopSignals;
    sim::Server server(std::move(responder), options.bind, static_cast<std::uint16_t>(options.port),
                       options.server);
    std::cout << "listening on " << server.Address() << ":" << server.Port() << std::endl;
    stopSignals.Wait();
    server.Stop();
    return 0;
}

int ServeReplay(const Options& options) {
    const std::shared_ptr<sim::Replay> replay = LoadReplay(options.replay, options.replaySpeed);
    if (!replay) {
        return 1;
    }
    std::cout << "replaying '" << options.replay << "': " << replay->Exchanges() << " exchanges"
              << std::endl;
    const int status = Serve(options, replay);
    std::cout << "replayed " << replay->Summary() << std::endl;
    for (const std::string& request : replay->UnknownRequests()) {
        std::cout << "unknown request: " << request << "\n";
    }
    std::cout << std::flush;
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // A reader of the program's output that went away must not end the served controller.
    trevane::IgnoreBrokenPipeSignal();
    Options options;
    if (const int exitCode = ParseArguments(argc, argv, options); exitCode >= 0) {
        return exitCode;
    }
    if (options.help) {
        PrintHelp();
        return 0;
    }
    if (options.version) {
        std::cout << "trevane-sim " << TREVANE_VERSION << "\n";
        return 0;
    }
    try {
        int status = 0;
        if (!options.replay.empty()) {
            status = ServeReplay(options);
        } else {
            auto machine = std::make_shared<sim::Machine>(std::make_shared<RealClock>());
            for (const sim::Fault& fault : options.faults) {
                machine->AddFault(fault);
            }
            status = Serve(options, sim::AsResponder(machine));
        }
#ifdef _WIN32
        SetEvent(g_stopped);
#endif
        return status;
    } catch (const std::exception& error) {
        std::cerr << "trevane-sim: " << error.what() << "\n";
        return 1;
    }
}
