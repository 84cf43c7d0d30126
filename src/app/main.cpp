#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include <QApplication>

#include "app/DisplayCheck.h"
#include "app/TerminationClose.h"
#include "app/WindowProgram.h"
#include "common/Platform.h"

int main(int argc, char** argv) {
    // A recording into a pipe whose reader died fails its writes; it must not end the window
    // with an axis jogging.
    trevane::IgnoreBrokenPipeSignal();
    bool screenshot = false;
    bool simulate = false;
    for (int i = 1; i < argc; ++i) {
        screenshot = screenshot || std::strcmp(argv[i], "--screenshot") == 0 ||
                     std::strncmp(argv[i], "--screenshot=", 13) == 0;
        simulate = simulate || std::strcmp(argv[i], "--simulate") == 0;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(trevane::UsageText().c_str(), stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("trevane %s\n", TREVANE_VERSION);
            return 0;
        }
    }
    // Refused before Qt or the link start: the screenshot run moves axes on its own, so it
    // never goes near a controller it did not start itself.
    if (screenshot && !simulate) {
        std::fputs(
            "trevane: --screenshot works only together with --simulate (it moves axes on "
            "its own)\n",
            stderr);
        return 2;
    }
    if (const std::string reason = trevane::MissingDisplayReason(argc, argv); !reason.empty()) {
        std::fprintf(stderr, "trevane: %s\n", reason.c_str());
        return 1;
    }
    const auto application = trevane::StartApplication(argc, argv);
    const trevane::CloseOnTermination closeOnTermination;

    const QStringList arguments = QApplication::arguments();
    std::string error;
    const auto options =
        trevane::ParseStartOptions(std::vector<QString>(arguments.begin(), arguments.end()), error);
    if (!options) {
        std::fprintf(stderr, "trevane: %s\n", error.c_str());
        return 2;
    }
    try {
        trevane::WindowProgram program(*options);
        return program.Run();
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "trevane: %s\n", failure.what());
        return 1;
    }
}
