#include "app/WindowProgram.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include "app/CommandField.h"
#include "app/MainWindow.h"
#include "app/ProfileFile.h"
#include "autotest/TestRunner.h"
#include "common/Clock.h"
#include "history/ServerAddress.h"
#include "history/StoreTest.h"
#include "controller/Controller.h"
#include "net/TcpMotionClient.h"
#include "sim/Simulator.h"

namespace trevane {
namespace {

constexpr const char* kLoopbackAddress = "127.0.0.1";
constexpr int kScreenshotConnectDelayMs = 300;
constexpr int kScreenshotSettleMs = 1000;
constexpr int kMessageBoxPollMs = 50;

// Closes every message box open now and returns the text of the last one: nobody is there to
// press OK during a screenshot run.
QString CloseMessageBoxes() {
    QString text;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box != nullptr && box->isVisible()) {
            text = box->text();
            box->done(QMessageBox::Ok);
        }
    }
    return text;
}

}  // namespace

std::string UsageText() {
    return "Usage: trevane [--simulate] [--screenshot FILE]\n"
           "The diagnostics console of the four-axis motion controller.\n"
           "  --simulate         serve a simulated controller on a free loopback port and\n"
           "                     connect the window to it instead of the configured address\n"
           "  --screenshot FILE  with --simulate only: connect to the embedded simulated\n"
           "                     controller, let the status table fill, save a picture of\n"
           "                     the window as FILE (PNG) and end (within 30 s)\n"
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
    // The screenshot run jogs and moves axes on its own; it may only do so on a machine it
    // started itself.
    if (!options.screenshotPath.isEmpty() && !options.simulate) {
        error = "--screenshot works only together with --simulate (it moves axes on its own)";
        return std::nullopt;
    }
    return options;
}

WindowProgram::WindowProgram(StartOptions options)
    : options_(std::move(options)), controller_(std::make_unique<Controller>()) {}

WindowProgram::~WindowProgram() {
    // The reference left its sessions to the end of the process; closing them here, before the
    // embedded controller stops, ends them in order instead.
    controller_.reset();
    server_.reset();
    machine_.reset();
}

void WindowProgram::ConfigureLink() {
    if (options_.simulate) {
        machine_ = std::make_shared<sim::Machine>(SystemClockShared());
        server_ = std::make_unique<sim::Server>(machine_, kLoopbackAddress, 0);
        controller_->Link().SetSessionFactory(MakeTcpSessionFactory(server_->Port()));
        return;
    }
    controller_->Link().SetSessionFactory(
        MakeTcpSessionFactory(ConfiguredPort(ConfigFilePath(), kDefaultControllerPort)));
    ConfigureHistoryServer();
}

// The team's server from the ini's [History] section, else TREVANE_HISTORY. Tests of the embedded
// simulator never go there. A server that cannot be used keeps the tests in the local file, and
// the verdict line says so.
void WindowProgram::ConfigureHistoryServer() {
    std::string server = ConfiguredHistoryServer(ConfigFilePath());
    if (const char* env = std::getenv("TREVANE_HISTORY");
        server.empty() && env != nullptr && history::NamesServer(env)) {
        server = env;
    }
    if (!server.empty()) {
        controller_->History().SetServer(server);
    }
}

int WindowProgram::Run() {
    // The reference's common-control set-up, restart support and settings store have nothing to
    // map to here: Qt draws its own controls. The command entry's history is all that is kept
    // between runs; what the screenshot run types is no operator's, so it keeps none.
    QApplication::setApplicationName(QStringLiteral("Trevane"));
    QApplication::setApplicationVersion(QStringLiteral(TREVANE_VERSION));
    ConfigureLink();
    if (!options_.screenshotPath.isEmpty()) {
        SetCommandHistoryFile(QString());
    }

    {
        MainWindow dialog(*controller_);  // attaches itself as the controller's operator
        if (options_.simulate) {
            dialog.SetAddressText(QString::fromLatin1(kLoopbackAddress));
            dialog.SetControllerPort(server_->Port());
        }
        if (!options_.screenshotPath.isEmpty()) {
            ScheduleScreenshot(dialog, options_.screenshotPath, exitCode_);
        }
        dialog.exec();
    }
    // The dialog's end has stopped any test; nothing of it is left running.
    controller_->Runner().StopAndJoin();
    return exitCode_;
}

void ScheduleScreenshot(MainWindow& dialog, const QString& path, int& exitCode,
                        std::chrono::milliseconds bound) {
    // A short session as an operator would have it: connected, machine on, two axes ticked for
    // jogging, a move under way and a few commands typed, so the picture shows a live table.
    const auto type = [&dialog](const char* command) {
        dialog.SetCommandText(QString::fromLatin1(command));
        QWidget* entry = dialog.CommandEntry();
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QApplication::sendEvent(entry, &enter);
    };
    auto ended = std::make_shared<bool>(false);
    const auto fail = [&dialog, &exitCode, ended](const std::string& why) {
        if (*ended) {
            return;
        }
        *ended = true;
        std::fprintf(stderr, "trevane: %s\n", why.c_str());
        exitCode = 1;
        CloseMessageBoxes();
        dialog.reject();
    };

    // A box would wait for an OK nobody presses; it runs its own loop, so these timers still
    // fire while it is open.
    auto* boxes = new QTimer(&dialog);
    auto lastBox = std::make_shared<QString>();
    QObject::connect(boxes, &QTimer::timeout, &dialog, [lastBox] {
        if (QString text = CloseMessageBoxes(); !text.isEmpty()) {
            *lastBox = text;
        }
    });
    boxes->start(kMessageBoxPollMs);

    auto* watchdog = new QTimer(&dialog);
    watchdog->setSingleShot(true);
    QObject::connect(watchdog, &QTimer::timeout, &dialog, [fail, bound] {
        fail("the screenshot run did not end within " + std::to_string(bound.count()) + " ms");
    });
    watchdog->start(bound);

    QTimer::singleShot(
        kScreenshotConnectDelayMs, &dialog,
        [&dialog, &exitCode, &path, type, fail, lastBox, ended] {
            if (*ended) {
                return;
            }
            dialog.ConnectButton()->click();
            if (*ended) {
                return;  // the watchdog ended the run while Connect was under way
            }
            if (!dialog.TheController().Link().Connected()) {
                const QString reason =
                    lastBox->isEmpty() ? QStringLiteral("no connection") : *lastBox;
                fail("the screenshot run could not connect: " + reason.toStdString());
                return;
            }
            dialog.TurnOnButton()->click();
            dialog.PrepareMotionButton()->click();
            dialog.AxisBox(0)->click();
            dialog.AxisBox(2)->click();
            type("PA24000,-16000,9000");
            type("BG");
            QTimer::singleShot(kScreenshotSettleMs / 2, &dialog, [type] { type("TP"); });
            QTimer::singleShot(kScreenshotSettleMs, &dialog, [&dialog, &exitCode, &path] {
                if (!dialog.grab().save(path, "PNG")) {
                    std::fprintf(stderr, "trevane: cannot write the screenshot '%s'\n",
                                 path.toLocal8Bit().constData());
                    exitCode = 1;
                }
                dialog.reject();
            });
        });
}

}  // namespace trevane
