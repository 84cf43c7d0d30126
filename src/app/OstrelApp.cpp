#include "app/OstrelApp.h"

#include <cstdio>

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QPixmap>
#include <QTimer>

#include "app/OstrelDlg.h"
#include "app/ProfileFile.h"
#include "autotest/TestRunner.h"
#include "common/Clock.h"
#include "controller/ControlIds.h"
#include "controller/Link.h"
#include "net/TcpMotionClient.h"
#include "sim/Simulator.h"

namespace trevane {
namespace {

constexpr const char* kLoopbackAddress = "127.0.0.1";
constexpr int kScreenshotConnectDelayMs = 300;
constexpr int kScreenshotSettleMs = 1000;

}  // namespace

std::string UsageText() {
    return "Usage: trevane [--simulate] [--screenshot FILE]\n"
           "The diagnostics console of the four-axis motion controller.\n"
           "  --simulate         serve a simulated controller on a free loopback port and\n"
           "                     connect the window to it instead of the configured address\n"
           "  --screenshot FILE  connect, wait for the status table to fill, save a picture\n"
           "                     of the window as FILE (PNG) and end\n"
           "  --help, --version  this text, the version\n"
           "The controller address comes from PelornControl.ini in the working directory\n"
           "(section Main, key GAddress; optional key Port, else 23).\n";
}

std::optional<StartOptions> ParseStartOptions(const std::vector<QString>& arguments,
                                              std::string& error) {
    StartOptions options;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QStringLiteral("--simulate")) {
            options.simulate = true;
        } else if (argument == QStringLiteral("--screenshot")) {
            if (i + 1 >= arguments.size()) {
                error = "--screenshot needs a file name";
                return std::nullopt;
            }
            options.screenshotPath = arguments[++i];
        } else if (argument.startsWith(QStringLiteral("--screenshot="))) {
            options.screenshotPath = argument.mid(13);
        } else {
            error = "unknown option '" + argument.toStdString() + "' (see --help)";
            return std::nullopt;
        }
    }
    return options;
}

COstrelApp::COstrelApp(StartOptions options) : options_(std::move(options)) {}

COstrelApp::~COstrelApp() {
    // The reference left its sessions to the end of the process; closing them here, before the
    // embedded controller stops, ends them in order instead.
    CloseLink();
    server_.reset();
    machine_.reset();
}

void COstrelApp::ConfigureLink() {
    if (options_.simulate) {
        machine_ = std::make_shared<sim::Machine>(SystemClockShared());
        server_ = std::make_unique<sim::Server>(machine_, kLoopbackAddress, 0);
        SetSessionFactory(MakeTcpSessionFactory(server_->Port()));
        return;
    }
    SetSessionFactory(
        MakeTcpSessionFactory(ConfiguredPort(ConfigFilePath(), kDefaultControllerPort)));
}

bool COstrelApp::InitInstance() {
    // The reference's common-control set-up, restart support and settings store have nothing to
    // map to here: Qt draws its own controls, and nothing is stored between runs.
    QApplication::setApplicationName(QStringLiteral("Trevane"));
    QApplication::setApplicationVersion(QStringLiteral(TREVANE_VERSION));
    ConfigureLink();

    {
        COstrelDlg dialog;  // sets g_mainDlg and installs the window operations
        if (options_.simulate) {
            dialog.SetAddressText(QString::fromLatin1(kLoopbackAddress));
        }
        if (!options_.screenshotPath.isEmpty()) {
            ScheduleScreenshot(dialog);
        }
        dialog.exec();
    }
    // The dialog's end has stopped any test; nothing of it is left running.
    StopAndJoinTestThreads();
    return false;
}

void COstrelApp::ScheduleScreenshot(COstrelDlg& dialog) {
    // A short session as an operator would have it: connected, machine on, two axes ticked for
    // jogging, a move under way and a few commands typed, so the picture shows a live table.
    const auto click = [&dialog](int id) {
        static_cast<QAbstractButton*>(dialog.GetDlgItem(id))->click();
    };
    const auto type = [&dialog](const char* command) {
        dialog.SetCommandText(QString::fromLatin1(command));
        auto* entry = dialog.GetDlgItem(IDC_COMMAND);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QApplication::sendEvent(entry, &enter);
    };
    QTimer::singleShot(kScreenshotConnectDelayMs, &dialog, [this, &dialog, click, type] {
        click(IDC_CONNECT);
        click(IDC_TURNON);
        click(IDC_PREPAREMOTION);
        click(IDC_AXIS_X);
        click(IDC_AXIS_Z);
        type("PA24000,-16000,9000");
        type("BG");
        QTimer::singleShot(kScreenshotSettleMs / 2, &dialog, [type] { type("TP"); });
        QTimer::singleShot(kScreenshotSettleMs, &dialog, [this, &dialog] {
            if (!dialog.grab().save(options_.screenshotPath, "PNG")) {
                std::fprintf(stderr, "trevane: cannot write the screenshot '%s'\n",
                             options_.screenshotPath.toLocal8Bit().constData());
                exitCode_ = 1;
            }
            dialog.reject();
        });
    });
}

}  // namespace trevane
