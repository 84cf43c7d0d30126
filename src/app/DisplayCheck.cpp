#include "app/DisplayCheck.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <QStringList>

namespace trevane {
namespace {

bool EnvironmentSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

QtMessageHandler g_previousHandler = nullptr;
QStringList g_startMessages;

void ExitOnPlatformFailure(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    if (type != QtFatalMsg) {
        const bool named =
            context.category != nullptr && std::strcmp(context.category, "default") != 0;
        g_startMessages.append(named ? QString::fromLatin1(context.category) +
                                           QStringLiteral(": ") + message
                                     : message);
        return;
    }
    // The platform plugin's own account names the display it could not reach.
    QString reason = message;
    for (const QString& earlier : g_startMessages) {
        if (earlier.startsWith(QStringLiteral("qt.qpa"))) {
            reason = earlier;
            break;
        }
    }
    std::fprintf(stderr, "trevane: cannot open a window: %s\n",
                 reason.simplified().toLocal8Bit().constData());
    std::_Exit(1);
}

}  // namespace

std::string MissingDisplayReason(int argc, char** argv) {
#if defined(__unix__) && !defined(__APPLE__)
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 ||
            std::strncmp(argv[i], "-platform=", 10) == 0) {
            return {};
        }
    }
    if (EnvironmentSet("QT_QPA_PLATFORM") || EnvironmentSet("DISPLAY") ||
        EnvironmentSet("WAYLAND_DISPLAY")) {
        return {};
    }
    return "no display available (DISPLAY and WAYLAND_DISPLAY are not set); run it in a desktop "
           "session, under Xvfb, or with QT_QPA_PLATFORM=offscreen";
#else
    (void)argc;
    (void)argv;
    return {};  // Windows and macOS always have their desktop
#endif
}

std::unique_ptr<QApplication> StartApplication(int& argc, char** argv) {
    g_previousHandler = qInstallMessageHandler(&ExitOnPlatformFailure);
    auto application = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(g_previousHandler);
    // Whatever Qt had to say while starting still reaches standard error.
    const QStringList messages = std::exchange(g_startMessages, {});
    for (const QString& message : messages) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    }
    return application;
}

}  // namespace trevane
