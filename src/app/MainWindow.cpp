#include "app/MainWindow.h"

#include <functional>

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QToolTip>
#include <QUrl>

#include "app/AboutBox.h"
#include "app/AppIcon.h"
#include "app/CommandField.h"
#include "app/IpAddressField.h"
#include "app/JogButtons.h"
#include "app/PlotsWindow.h"
#include "app/ProfileFile.h"
#include "app/WindowOperator.h"
#include "app/RunHandler.h"
#include "app/ScopeWindow.h"
#include "app/TextBridge.h"
#include "app/TrafficWindow.h"
#include "autotest/TestLog.h"
#include "autotest/TestRunner.h"
#include "console/ProgramDump.h"
#include "controller/Controller.h"
#include "machine/Procedures.h"
#include "protocol/Limits.h"
#include "report/TestReport.h"

namespace trevane {

MainWindow* g_mainWindow = nullptr;

namespace {

constexpr int kSpeedStart = -50;

struct ClickHandler {
    QPushButton* button;
    const char* what;
    std::function<void()> handler;
};

bool IsEnterKey(const QKeyEvent& event) {
    const Qt::KeyboardModifiers modifiers = event.modifiers() & ~Qt::KeypadModifier;
    return (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter) &&
           modifiers == Qt::NoModifier;
}

}  // namespace

MainWindow::MainWindow(Controller& controller, QWidget* parent)
    : QDialog(parent), controller_(controller) {
    setObjectName(QStringLiteral("IDD_MAIN_DIALOG"));
    setWindowTitle(QStringLiteral("Trevane"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    setFont(DialogFont());
    units_ = BaseUnitsOf(font());
    const QSize templateSize = MapDialogSize(units_, kMainDialogSize);
    // Below the template's area, so that no control moves; the window grows by its height.
    strip_ = new LinkStrip(this);
    strip_->setGeometry(0, templateSize.height(), templateSize.width(), strip_->StripHeight());
    resize(templateSize.width(), templateSize.height() + strip_->StripHeight());
    // The controls keep their places when the frame changes size, so a smaller frame would
    // only cut some of them off.
    setMinimumSize(size());

    CreateControls();
    command_->SetLink(&controller_.Link());
    jogUp_->SetLink(&controller_.Link());
    jogDown_->SetLink(&controller_.Link());
    ConnectHandlers();
    OnInitDialog();

    windowOps_ = std::make_shared<WindowOperator>(*this);
    controller_.SetOperator(windowOps_);
    g_mainWindow = this;
}

MainWindow::~MainWindow() {
    ShutDown();
}

void MainWindow::ConnectHandlers() {
    for (QPushButton* button : findChildren<QPushButton*>()) {
        // No button is a default button: Enter on any other control is the dialog's OK.
        button->setAutoDefault(false);
        button->setDefault(false);
        button->installEventFilter(this);
    }
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(connect_, &QPushButton::clicked, this, &MainWindow::OnConnectClicked);
    Controller* const controller = &controller_;
    const ClickHandler clicks[] = {
        {turnOn_, "Turn On", [controller] { OnTurnOn(controller->Link()); }},
        {turnOff_, "Turn Off", [controller] { OnTurnOff(controller->Link()); }},
        {prepareMotion_, "Prepare Motion", [controller] { OnPrepareMotion(controller->Link()); }},
        {exitMotion_, "Exit Motion", [controller] { OnExitMotion(controller->Link()); }},
        {runTest_, "Run Auto Test", [controller] { controller->Runner().OnRunAutoTest(); }},
        {dumpProgram_, "Dump Program Code", [controller] { OnDumpProgram(controller->Link()); }},
        {setZero_, "DP0,0,0,0", [controller] { OnSetZero(controller->Link()); }},
        {openLogFolder_, "Open Log Folder", [controller] { OpenLogFolder(controller->Link()); }},
    };
    for (const ClickHandler& click : clicks) {
        connect(click.button, &QPushButton::clicked, this, [this, click] {
            const bool isRunTest = click.button == runTest_;
            const bool starting = isRunTest && !controller_.Link().Test().running;
            RunHandler(click.what, click.handler);
            if (starting) {
                ClearLastError();
            }
            if (isRunTest) {
                ShowVerdict();  // a test that starts clears the last one's verdict at once
            }
        });
    }
}

void MainWindow::OnInitDialog() {
    systemMenu_ = new QMenu(this);
    systemMenu_->setObjectName(QStringLiteral("SystemMenu"));
    QAction* traffic = systemMenu_->addAction(QString::fromLatin1(kTrafficMenuText));
    traffic->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(traffic, &QAction::triggered, this, [this] { OpenTraffic(); });
    trafficShortcut_ = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
    connect(trafficShortcut_, &QShortcut::activated, this, [this] { OpenTraffic(); });
    QAction* plots = systemMenu_->addAction(QString::fromLatin1(kPlotsMenuText));
    plots->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    connect(plots, &QAction::triggered, this, [this] { OpenPlots(); });
    auto* plotsShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_P), this);
    connect(plotsShortcut, &QShortcut::activated, this, [this] { OpenPlots(); });
    QAction* scope = systemMenu_->addAction(QString::fromLatin1(kScopeMenuText));
    scope->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    connect(scope, &QAction::triggered, this, [this] { OpenScope(); });
    auto* scopeShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), this);
    connect(scopeShortcut, &QShortcut::activated, this, [this] { OpenScope(); });
    connect(statusList_, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& at) { OnStatusCellDoubleClicked(at.row(), at.column()); });
    systemMenu_->addSeparator();
    QAction* about = systemMenu_->addAction(QString::fromLatin1(kAboutMenuText));
    connect(about, &QAction::triggered, this, [this] { ShowAboutBox(); });

    setWindowIcon(AppIcon());
    RunHandler("naming the test log", [this] { controller_.Log().MakeFileName(); });
    // Every test of the window leaves its report (plots and samples) beside the log.
    controller_.Conclusion().SetReportEnabled(true);
    // The Scope window shows what came before it was opened, so its buffer is fed from here on.
    controller_.Monitor().Scope();

    address_->SetAddress(FromWire(ConfiguredAddress(ConfigFilePath())),
                         QString::fromLatin1(kDefaultAddress));
    controllerPort_ = ConfiguredPort(ConfigFilePath(), kDefaultControllerPort);

    speed_->setRange(kSpeedMinimum, kSpeedMaximum);
    speed_->setValue(kSpeedStart);
    ShowSpeed(false);
    // The template's "Speed" label has no room for the number, so it floats beside the thumb.
    connect(speed_, &QSlider::valueChanged, this, [this] { ShowSpeed(true); });

    // The first tab stop starts with the focus.
    cancel_->setFocus();
}

void MainWindow::ShowSpeed(bool whileMoving) {
    const int speed = speed_->value();
    const QString text = QStringLiteral("Jog speed: %1 counts/s with Up, %2 counts/s with Down")
                             .arg(speed)
                             .arg(-speed);
    speed_->setToolTip(text);
    if (whileMoving && speed_->isVisible()) {
        QStyleOptionSlider option;
        option.initFrom(speed_);
        option.orientation = speed_->orientation();
        option.minimum = speed_->minimum();
        option.maximum = speed_->maximum();
        option.sliderPosition = speed_->sliderPosition();
        option.upsideDown = !speed_->invertedAppearance();
        const QRect handle = speed_->style()->subControlRect(QStyle::CC_Slider, &option,
                                                             QStyle::SC_SliderHandle, speed_);
        QToolTip::showText(speed_->mapToGlobal(handle.topRight()), text, speed_);
    }
}

void MainWindow::ShowMessage(const QString& text, const QString& caption, bool ownedByWindow) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok,
                    ownedByWindow ? this : nullptr);
    box.setTextFormat(Qt::PlainText);
    if (text == QLatin1String(kConnectionFailedText)) {
        // The box's own text stays fixed; why it failed goes behind "Show Details...".
        box.setDetailedText(QString::fromLocal8Bit(controller_.Link().LastConnectFailure()));
    }
    if (!ownedByWindow) {
        // Modal to no window: the main window stays usable while the box is open.
        box.setWindowModality(Qt::WindowModal);
    }
    box.exec();
}

void MainWindow::OpenFolder(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void MainWindow::ShowAboutBox() {
    AboutBox about(this);
    about.exec();
}

void MainWindow::done(int result) {
    ShutDown();
    QDialog::done(result);
}

void MainWindow::ShutDown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    // The jog's stop sequence still reads the axis boxes, so it goes before the window does.
    jogUp_->EndJog();
    jogDown_->EndJog();
    for (auto& [id, timer] : timers_) {
        timer->stop();
    }
    if (healthTimer_ != nullptr) {
        healthTimer_->stop();
    }
    if (plots_ != nullptr) {
        plots_->hide();
    }
    if (scope_ != nullptr) {
        scope_->hide();
    }
    if (traffic_ != nullptr) {
        traffic_->hide();
    }
    windowOps_->Detach();
    if (controller_.Link().TheOperator() == windowOps_) {
        controller_.SetOperator(nullptr);
    }
    if (g_mainWindow == this) {
        g_mainWindow = nullptr;
    }
    // A test thread waiting on the window has returned by now; the test unwinds at its next
    // command, log line or wait.
    RunHandler("stopping the automatic test", [this] { controller_.Runner().StopAndJoin(); });
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // Enter that no control took is the dialog's OK, which ends it as Cancel does.
    if (IsEnterKey(*event)) {
        event->accept();
        accept();
        return;
    }
    QDialog::keyPressEvent(event);  // Escape: Cancel
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // Enter on a focused push button clicks it.
    if (event->type() == QEvent::KeyPress && IsEnterKey(*static_cast<QKeyEvent*>(event))) {
        if (auto* button = qobject_cast<QPushButton*>(watched); button && button->isEnabled()) {
            button->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    // There is no window menu to extend on every desktop, so the dialog's own menu holds it.
    systemMenu_->exec(event->globalPos());
}

}  // namespace trevane
