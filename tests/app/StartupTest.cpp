#include <array>
#include <filesystem>
#include <utility>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QTest>
#include <QToolTip>

#include "app/CommandField.h"
#include "app/ControlIds.h"
#include "app/DialogUnits.h"
#include "app/IpAddressField.h"
#include "app/JogButtons.h"
#include "app/StatusTableModel.h"
#include "app/WindowHarness.h"
#include "app/WindowProgram.h"
#include "link/ControllerLink.h"
#include "net/TcpMotionClient.h"

namespace trevane::testing {
namespace {

// The dialog template, written out again here so that a slip in the window's own table shows.
struct Expected {
    const char* name;
    const char* kind;  // the Qt class that the control must be (or derive from)
    const char* caption;
    int x, y, width, height;
};

constexpr std::array<Expected, 27> kTemplate = {{
    {"IDCANCEL", "QPushButton", "Cancel", 492, 334, 50, 14},
    {"IDC_CONNECT", "QPushButton", "Connect", 93, 7, 49, 13},
    {"IDC_STATUSLIST", "QTableView", "", 7, 178, 375, 170},
    {"IDC_TRANSCRIPT", "QPlainTextEdit", "", 7, 31, 268, 114},
    {"IDC_COMMAND", "trevane::CommandField", "", 7, 145, 267, 13},
    {"IDC_TURNON", "QPushButton", "Turn On", 293, 21, 72, 18},
    {"IDC_IPADDRESS", "trevane::IpAddressField", "", 7, 7, 84, 13},
    {"IDC_TURNOFF", "QPushButton", "Turn Off", 293, 44, 72, 18},
    {"IDC_PREPAREMOTION", "QPushButton", "Prepare Motion", 293, 69, 72, 18},
    {"IDC_EXITMOTION", "QPushButton", "Exit Motion", 293, 95, 72, 18},
    {"IDC_PROGRESS", "QProgressBar", "", 397, 177, 104, 13},
    {"IDC_RUNTEST", "QPushButton", "Run Auto Test", 396, 156, 106, 17},
    {"IDC_STATIC_DIAGNOSTICS", "QGroupBox", "Diagnostics", 389, 145, 153, 166},
    {"IDC_TESTSTATUS", "QLabel", "Not Running", 400, 196, 101, 24},
    {"IDC_JOGUP", "trevane::JogUpButton", "Up", 441, 15, 43, 23},
    {"IDC_STATIC_JOG", "QGroupBox", "Jog", 389, 7, 153, 138},
    {"IDC_JOGDOWN", "trevane::JogDownButton", "Down", 441, 39, 43, 23},
    {"IDC_SPEED", "QSlider", "", 503, 18, 30, 72},
    {"IDC_STATIC_SPEED", "QLabel", "Speed", 501, 90, 32, 9},
    {"IDC_AXIS_X", "QCheckBox", "X", 395, 21, 27, 9},
    {"IDC_AXIS_Y", "QCheckBox", "Y", 395, 31, 27, 9},
    {"IDC_AXIS_Z", "QCheckBox", "Z", 395, 42, 27, 9},
    {"IDC_AXIS_W", "QCheckBox", "W", 395, 53, 27, 9},
    {"IDC_STATIC_MACROS", "QGroupBox", "Macros", 279, 7, 103, 138},
    {"IDC_DUMPPROGRAM", "QPushButton", "Dump Program Code", 397, 235, 104, 20},
    {"IDC_SETZERO", "QPushButton", "DP0,0,0,0", 397, 118, 75, 18},
    {"IDC_OPENLOGFOLDER", "QPushButton", "Open Log Folder", 397, 261, 103, 21},
}};

QString CaptionOf(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        return button->text();
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return label->text();
    }
    if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        return group->title();
    }
    return {};
}

// Dialog units as the reference converts them: a quarter of the 8-point dialog font's average
// letter width (the 52 letters' width / 52, rounded) and an eighth of its height, rounded.
struct Units {
    int cx, cy;
    int X(int dlu) const { return (dlu * cx + 2) / 4; }
    int Y(int dlu) const { return (dlu * cy + 4) / 8; }
};

// The font itself is the dialog's (on Windows the one "MS Shell Dlg" stands for, checked against
// GDI on its own); the units are measured here.
Units DialogFontUnits() {
    const QFontMetrics metrics(DialogFont());
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters / 26 + 1) / 2, metrics.ascent() + metrics.descent()};
}

using StartupTest = WindowTest;

TEST_F(StartupTest, OpensInItsStartState) {
    MainWindow& dialog = OpenDialog();
    EXPECT_EQ(dialog.windowTitle(), "Trevane");
    EXPECT_FALSE(dialog.windowIcon().isNull());
    EXPECT_EQ(g_mainWindow, &dialog);

    auto* speed = Dialog().SpeedSlider();
    EXPECT_EQ(speed->orientation(), Qt::Vertical);
    EXPECT_EQ(speed->minimum(), -10000);
    EXPECT_EQ(speed->maximum(), 10);
    EXPECT_EQ(speed->value(), -50);
    for (int axis = 0; axis < 4; ++axis) {
        EXPECT_FALSE(dialog.AxisBox(axis)->isChecked()) << axis;
    }
    EXPECT_EQ(Dialog().TestStatusLabel()->text(), "Not Running");
    EXPECT_EQ(Dialog().RunTestButton()->text(), "Run Auto Test");
    auto* progress = Dialog().ProgressBar();
    EXPECT_EQ(progress->minimum(), 0);
    EXPECT_EQ(progress->maximum(), 100);
    EXPECT_EQ(progress->value(), 0);
    EXPECT_TRUE(Transcript().isEmpty());
    EXPECT_TRUE(Dialog().CommandEntry()->toPlainText().isEmpty());
    EXPECT_EQ(Dialog().AddressField()->text(), "192.168.1.10");
    EXPECT_EQ(dialog.focusWidget(), dialog.CancelButton()) << "focus on the first tab stop";
    EXPECT_FALSE(Connected());
    EXPECT_FALSE(dialog.TimerRunning(kStatusTimer));
    EXPECT_EQ(Window()->Address(), "192.168.1.10") << "the window operations are installed";
}

TEST_F(StartupTest, TheStatusTableShowsItsLabelsAndEmptyCells) {
    OpenDialog();
    auto* table = Dialog().StatusList();
    const QAbstractItemModel* model = table->model();
    ASSERT_EQ(model->rowCount(), 13);
    ASSERT_EQ(model->columnCount(), 5);
    const char* headings[] = {"Item", "X", "Y", "Z", "W"};
    for (int column = 0; column < 5; ++column) {
        EXPECT_EQ(model->headerData(column, Qt::Horizontal).toString(), headings[column]);
        EXPECT_EQ(table->columnWidth(column), 100);
    }
    const char* labels[] = {"refpos", "motorpos", "errorpos", "auxpos",        "velocity",
                            "torque", "analog",   "stopcode", "forward limit", "reverse limit",
                            "moving", "stopped",  "motor off"};
    for (int row = 0; row < 13; ++row) {
        EXPECT_EQ(model->index(row, 0).data().toString(), labels[row]);
        for (int column = 1; column < 5; ++column) {
            EXPECT_TRUE(model->index(row, column).data().toString().isEmpty());
        }
    }
    EXPECT_TRUE(table->showGrid());
    EXPECT_EQ(table->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(table->selectionBehavior(), QAbstractItemView::SelectRows);
}

TEST_F(StartupTest, EveryControlHasItsNameKindCaptionAndPlace) {
    MainWindow& dialog = OpenDialog();
    const Units units = DialogFontUnits();
    // The link's strip adds its own height below the template's area.
    EXPECT_EQ(dialog.size(), QSize(units.X(549), units.Y(357) + dialog.Strip()->height()));
    for (const Expected& control : kTemplate) {
        SCOPED_TRACE(control.name);
        auto* widget = dialog.findChild<QWidget*>(control.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_TRUE(widget->inherits(control.kind)) << widget->metaObject()->className();
        EXPECT_EQ(CaptionOf(widget), control.caption);
        // Edges mapped one by one; the size follows from them.
        const int left = units.X(control.x);
        const int top = units.Y(control.y);
        EXPECT_EQ(widget->geometry(), QRect(left, top, units.X(control.x + control.width) - left,
                                            units.Y(control.y + control.height) - top));
        EXPECT_TRUE(widget->isVisible());
    }
    for (auto* button : dialog.findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->isDefault() || button->autoDefault())
            << button->objectName().toStdString();
    }
}

// What the screenshot run and the tests press must be the control that the template names.
TEST_F(StartupTest, EachAccessorGivesItsTemplatesControl) {
    const MainWindow& dialog = OpenDialog();
    const std::pair<const char*, QWidget*> controls[] = {
        {"IDCANCEL", dialog.CancelButton()},
        {"IDC_CONNECT", dialog.ConnectButton()},
        {"IDC_TURNON", dialog.TurnOnButton()},
        {"IDC_TURNOFF", dialog.TurnOffButton()},
        {"IDC_PREPAREMOTION", dialog.PrepareMotionButton()},
        {"IDC_EXITMOTION", dialog.ExitMotionButton()},
        {"IDC_RUNTEST", dialog.RunTestButton()},
        {"IDC_DUMPPROGRAM", dialog.DumpProgramButton()},
        {"IDC_SETZERO", dialog.SetZeroButton()},
        {"IDC_OPENLOGFOLDER", dialog.OpenLogFolderButton()},
        {"IDC_JOGUP", dialog.JogUp()},
        {"IDC_JOGDOWN", dialog.JogDown()},
        {"IDC_STATUSLIST", dialog.StatusList()},
        {"IDC_TRANSCRIPT", dialog.Transcript()},
        {"IDC_COMMAND", dialog.CommandEntry()},
        {"IDC_IPADDRESS", dialog.AddressField()},
        {"IDC_PROGRESS", dialog.ProgressBar()},
        {"IDC_TESTSTATUS", dialog.TestStatusLabel()},
        {"IDC_SPEED", dialog.SpeedSlider()},
        {"IDC_AXIS_X", dialog.AxisBox(0)},
        {"IDC_AXIS_Y", dialog.AxisBox(1)},
        {"IDC_AXIS_Z", dialog.AxisBox(2)},
        {"IDC_AXIS_W", dialog.AxisBox(3)},
    };
    for (const auto& [name, widget] : controls) {
        ASSERT_NE(widget, nullptr) << name;
        EXPECT_EQ(widget, dialog.findChild<QWidget*>(name)) << name;
    }
}

TEST_F(StartupTest, TabVisitsTheControlsInTemplateOrder) {
    MainWindow& dialog = OpenDialog();
    const std::vector<std::string> expected = {
        "IDCANCEL",          "IDC_CONNECT",    "IDC_STATUSLIST",  "IDC_TRANSCRIPT",
        "IDC_COMMAND",       "IDC_TURNON",     "IDC_IPADDRESS",   "IDC_TURNOFF",
        "IDC_PREPAREMOTION", "IDC_EXITMOTION", "IDC_RUNTEST",     "IDC_JOGUP",
        "IDC_JOGDOWN",       "IDC_SPEED",      "IDC_AXIS_X",      "IDC_AXIS_Y",
        "IDC_AXIS_Z",        "IDC_AXIS_W",     "IDC_DUMPPROGRAM", "IDC_SETZERO",
        "IDC_OPENLOGFOLDER", "IDCANCEL"};
    std::vector<std::string> visited = {dialog.focusWidget()->objectName().toStdString()};
    for (std::size_t i = 1; i < expected.size(); ++i) {
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Tab);
        visited.push_back(dialog.focusWidget()->objectName().toStdString());
    }
    EXPECT_EQ(visited, expected);
}

TEST_F(StartupTest, TheSliderHasItsMinimumAtTheTop) {
    OpenDialog();
    auto* speed = Dialog().SpeedSlider();
    QTest::mouseClick(speed, Qt::LeftButton, {}, QPoint(speed->width() / 2, 2));
    EXPECT_LT(speed->value(), -50) << "a click above the thumb moves it towards -10000";
    speed->setValue(-50);
    speed->setFocus();
    QTest::keyClick(speed, Qt::Key_Up);
    EXPECT_EQ(speed->value(), -51) << "Up moves the thumb up, towards the minimum";
    QTest::keyClick(speed, Qt::Key_End);
    EXPECT_EQ(speed->value(), 10);
}

TEST_F(StartupTest, TheSliderShowsItsSpeedWhileItMovesAndAsItsTooltip) {
    OpenDialog();
    auto* speed = Dialog().SpeedSlider();
    EXPECT_EQ(speed->toolTip(), "Jog speed: -50 counts/s with Up, 50 counts/s with Down");
    speed->setFocus();
    QTest::keyClick(speed, Qt::Key_Up);
    EXPECT_EQ(speed->toolTip(), "Jog speed: -51 counts/s with Up, 51 counts/s with Down");
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), speed->toolTip());
    QToolTip::hideText();
}

TEST_F(StartupTest, EveryStatusRowNamesItsUnitAndTorqueReadsInVolts) {
    MainWindow& dialog = OpenDialog();
    const QAbstractItemModel* model = Dialog().StatusList()->model();
    const auto tip = [model](int row, int column) {
        return model->index(row, column).data(Qt::ToolTipRole).toString();
    };
    for (int row = 0; row < 13; ++row) {
        EXPECT_FALSE(tip(row, 0).isEmpty()) << row;
        EXPECT_EQ(tip(row, 0), tip(row, 3)) << "label and empty cells say the same";
    }
    for (int row : {0, 1, 2, 3}) {
        EXPECT_TRUE(tip(row, 0).contains("in counts")) << tip(row, 0).toStdString();
    }
    EXPECT_TRUE(tip(4, 0).contains("counts per second"));
    EXPECT_TRUE(tip(5, 0).contains("volts = value x 10 / 32767"));
    // The volts follow the "C" locale whatever the process's locale says.
    dialog.SetStatusCell(5, 2, "-3277");
    EXPECT_TRUE(tip(5, 2).endsWith("-3277 = -1.000 V")) << tip(5, 2).toStdString();
    dialog.SetStatusCell(6, 1, "32767");
    EXPECT_TRUE(tip(6, 1).endsWith("32767 = 10.000 V")) << tip(6, 1).toStdString();
}

TEST_F(StartupTest, TheFrameNeverShrinksBelowTheTemplateAndTheStrip) {
    MainWindow& dialog = OpenDialog();
    const QSize full = dialog.size();
    EXPECT_EQ(dialog.minimumSize(), full);
    dialog.resize(full.width() / 2, full.height() / 2);
    EXPECT_EQ(dialog.size(), full);
    const QRect inside(QPoint(0, 0), dialog.minimumSize());
    for (QWidget* control : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control->isWindow() || !control->isVisible()) {
            continue;  // the menu and the windows beside the dialog
        }
        EXPECT_TRUE(inside.contains(control->geometry())) << control->objectName().toStdString();
    }
}

TEST_F(StartupTest, TakesTheAddressFromTheWorkingDirectorysConfiguration) {
    const auto elsewhere = workDir_ / "elsewhere";
    std::filesystem::create_directory(elsewhere);
    WriteConfig("[Main]\nGAddress=10.1.2.3\n");
    WriteConfig("[ main ]\r\n  gaddress =  10.9.8.7  \r\n", elsewhere);
    std::filesystem::current_path(elsewhere);
    OpenDialog();
    EXPECT_EQ(Dialog().AddressField()->text(), "10.9.8.7");
    EXPECT_EQ(Window()->Address(), "10.9.8.7");
}

TEST_F(StartupTest, ShowsTheDefaultAddressWhenTheConfigurationGivesNoIPv4Address) {
    for (const char* value : {"", "   ", "controller.local", "10.0.0", "10.0.0.256", "1.2.3.4.5",
                              "-1.2.3.4", "1..2.3"}) {
        WriteConfig(std::string("[Main]\nGAddress=") + value + "\n");
        OpenDialog();
        EXPECT_EQ(Dialog().AddressField()->text(), "192.168.1.10") << value;
        CloseDialog();
    }
    WriteConfig("[Main]\nGAddress=\"010.000.000.001\"\n");
    OpenDialog();
    EXPECT_EQ(Dialog().AddressField()->text(), "10.0.0.1");
}

TEST_F(StartupTest, TheAddressFieldHoldsFourNumbersUpTo255) {
    OpenDialog();
    auto* field = Dialog().AddressField();
    field->clear();
    field->setFocus();
    QTest::keyClicks(field, "1a0.2x0.300.4.5-");
    EXPECT_EQ(field->text(), "10.20.30.45") << "letters, a fifth number and 300 are refused";
    field->clear();
    QTest::keyClicks(field, "127.0..1");
    EXPECT_EQ(Window()->Address(), "127.0.0.1") << "a blank field reads as 0";
    field->clear();
    EXPECT_EQ(Window()->Address(), "0.0.0.0");
}

// The program's start-up, from the configuration file to a connection over loopback.
TEST_F(StartupTest, TheApplicationConnectsToTheConfiguredPort) {
    sim::Server server(machine_, "127.0.0.1", 0);
    WriteConfig("[Main]\nGAddress=127.0.0.1\nPort=" + std::to_string(server.Port()) + "\n");
    bool connected = false;
    Controller* programs = nullptr;  // the program's own controller, not the test's
    QTimer::singleShot(0, [&] {
        ASSERT_NE(g_mainWindow, nullptr);
        programs = &g_mainWindow->TheController();
        g_mainWindow->ConnectButton()->click();
        connected = programs->Link().Connected();
        g_mainWindow->reject();
    });
    WindowProgram app(StartOptions{});
    EXPECT_EQ(app.Run(), 0);
    EXPECT_TRUE(connected);
    EXPECT_EQ(g_mainWindow, nullptr);
    ASSERT_NE(programs, nullptr);
    EXPECT_EQ(programs->Link().TheOperator()->Address(), "")
        << "the window operations went with the dialog";
}

TEST_F(StartupTest, SimulateServesAControllerOnLoopbackAndPointsTheWindowAtIt) {
    SetSessionFactory(nullptr);
    QString address;
    QString firstCell;
    QTimer::singleShot(0, [&] {
        address = g_mainWindow->AddressText();
        g_mainWindow->ConnectButton()->click();
        (void)QTest::qWaitFor([] { return !g_mainWindow->StatusModel().Cell(0, 1).isEmpty(); },
                              5000);
        firstCell = g_mainWindow->StatusModel().Cell(0, 1);
        g_mainWindow->reject();
    });
    StartOptions options;
    options.simulate = true;
    WindowProgram app(options);
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(address, "127.0.0.1");
    EXPECT_EQ(firstCell, "0");
}

TEST(StartOptions, ReadsTheProgramsOptions) {
    std::string error;
    auto options = ParseStartOptions({"trevane"}, error);
    ASSERT_TRUE(options);
    EXPECT_FALSE(options->simulate);
    options = ParseStartOptions({"trevane", "--simulate", "--screenshot", "shot.png"}, error);
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->simulate);
    EXPECT_EQ(options->screenshotPath, "shot.png");
    EXPECT_FALSE(ParseStartOptions({"trevane", "--screenshot"}, error));
    EXPECT_NE(error.find("file name"), std::string::npos);
    EXPECT_FALSE(ParseStartOptions({"trevane", "--bogus"}, error));
    EXPECT_NE(error.find("--bogus"), std::string::npos);
}

}  // namespace
}  // namespace trevane::testing
