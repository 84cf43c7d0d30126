#pragma once

#include <array>
#include <chrono>
#include <map>
#include <memory>

#include <QDialog>
#include <QString>

#include "app/DialogTemplate.h"
#include "app/DialogUnits.h"
#include "app/LinkHealth.h"
#include "app/LinkStrip.h"
#include "link/SessionState.h"

class QCheckBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QShortcut;
class QSlider;
class QTableView;
class QTimer;

namespace trevane {

class Controller;

class CommandField;
class IpAddressField;
class JogDownButton;
class JogUpButton;
class PlotsWindow;
class WindowOperator;
class ScopeWindow;
class TrafficWindow;
class StatusTableModel;

// The speed slider's range: its minimum is at the top.
inline constexpr int kSpeedMinimum = -10000;
inline constexpr int kSpeedMaximum = 10;

// The main window of one controller: every control of the diagnostics dialog, placed as its
// template says, the dispatch of clicks and timer ticks to the controller, and the controller's
// operator on these widgets (attached for as long as the dialog lives).
class MainWindow final : public QDialog {
    Q_OBJECT
  public:
    // Shown when the configuration names no address: where a controller sits on the machine's
    // own network. Nothing but an operator's Connect ever uses it.
    static constexpr const char* kDefaultAddress = "192.168.1.10";
    static constexpr const char* kAboutMenuText = "&About Ostrel...";
    static constexpr const char* kPlotsMenuText = "Plots...";
    static constexpr const char* kScopeMenuText = "Scope...";
    static constexpr const char* kTrafficMenuText = "Traffic...";
    // How often the link's figures in the strip change: often enough to follow, slow enough
    // to read.
    static constexpr std::chrono::milliseconds kStripRefresh{250};
    static constexpr std::chrono::milliseconds kHealthCheck{50};

    explicit MainWindow(Controller& controller, QWidget* parent = nullptr);

    Controller& TheController() const { return controller_; }
    ~MainWindow() override;

    DialogBaseUnits BaseUnits() const { return units_; }
    StatusTableModel& StatusModel() const { return *statusModel_; }
    // The entries that the window's menu offers (the About box among them).
    QMenu* SystemMenu() const { return systemMenu_; }

    // The controls, for the screenshot run and the tests that drive the window.
    QPushButton* CancelButton() const { return cancel_; }
    QPushButton* ConnectButton() const { return connect_; }
    QPushButton* TurnOnButton() const { return turnOn_; }
    QPushButton* TurnOffButton() const { return turnOff_; }
    QPushButton* PrepareMotionButton() const { return prepareMotion_; }
    QPushButton* ExitMotionButton() const { return exitMotion_; }
    QPushButton* RunTestButton() const { return runTest_; }
    QPushButton* DumpProgramButton() const { return dumpProgram_; }
    QPushButton* SetZeroButton() const { return setZero_; }
    QPushButton* OpenLogFolderButton() const { return openLogFolder_; }
    JogUpButton* JogUp() const { return jogUp_; }
    JogDownButton* JogDown() const { return jogDown_; }
    QTableView* StatusList() const { return statusList_; }
    QPlainTextEdit* Transcript() const { return transcript_; }
    CommandField* CommandEntry() const { return command_; }
    IpAddressField* AddressField() const { return address_; }
    QProgressBar* ProgressBar() const { return progress_; }
    QLabel* TestStatusLabel() const { return testStatus_; }
    QSlider* SpeedSlider() const { return speed_; }
    // The axis's box, 0..3 for X..W.
    QCheckBox* AxisBox(int axis) const { return axes_.at(static_cast<std::size_t>(axis)); }

    // The Plots window, made on first use and then shown and raised again each time; null
    // until then.
    PlotsWindow* OpenPlots();
    // The Traffic window, the same way.
    TrafficWindow* OpenTraffic();
    TrafficWindow* TrafficView() const { return traffic_; }
    PlotsWindow* Plots() const { return plots_; }
    // The Scope window, the same way; a double-click on a value of the status table adds it.
    ScopeWindow* OpenScope();
    ScopeWindow* Scope() const { return scope_; }
    // The line under the controls that shows the link's state.
    LinkStrip* Strip() const { return strip_; }
    // The port the link's sessions use, for the strip: the configured one unless the program
    // chose another (the embedded simulated controller's).
    void SetControllerPort(int port) { controllerPort_ = port; }

    // The window operations, in the widgets' own terms. Window's thread only.
    QString AddressText() const;
    void SetAddressText(const QString& address);
    void AppendTranscript(const QString& text);
    void ScrollTranscriptToEnd();
    QString CommandText() const;
    void SetCommandText(const QString& text);
    void SetTestStatus(const QString& text);
    void SetRunTestCaption(const QString& caption);
    // A test started ("Abort Test", the progress bar follows it) or ended ("Run Auto Test").
    void ShowTestRunning(bool running);
    // Both sessions' states, for the strip.
    void ShowSessions(const SessionStatus& command, const SessionStatus& record);
    void SetProgress(int position);
    void SetStatusCell(int row, int column, const QString& text);
    bool IsAxisChecked(int axis) const;
    int SpeedPosition() const;
    void StartTimer(int id, int periodMs);
    void StopTimer(int id);
    bool TimerRunning(int id) const;
    void ShowMessage(const QString& text, const QString& caption, bool ownedByWindow);
    void OpenFolder(const QString& path);

    // Shows the About box modally.
    void ShowAboutBox();

    // Ends the dialog. Before it goes, a held jog is stopped, the window operations are
    // withdrawn (a test thread waiting on one returns) and a running test is stopped.
    void done(int result) override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void CreateControls();
    QWidget* CreateControl(const ControlTemplate& control);
    // The member that holds the template's push button `id`; null for none.
    QPushButton** ButtonSlot(int id);
    void ConnectHandlers();
    void OnInitDialog();
    void OnTimerTick(int id);
    void OnConnectClicked();
    void OnStatusCellDoubleClicked(int row, int column);
    // The slider's speed as its tooltip and, while it moves, beside the thumb.
    void ShowSpeed(bool whileMoving);
    // The last test's verdict in the strip and on the progress bar, in its colour.
    void ShowVerdict();
    // Greys the table while its values are stale and puts the link's figures in the title.
    void RefreshHealth(bool stripNow);
    // Hides the failures so far from the strip: a test or a Connect begins anew.
    void ClearLastError();
    void ShutDown();

    DialogBaseUnits units_;
    QPushButton* cancel_ = nullptr;
    QPushButton* connect_ = nullptr;
    QPushButton* turnOn_ = nullptr;
    QPushButton* turnOff_ = nullptr;
    QPushButton* prepareMotion_ = nullptr;
    QPushButton* exitMotion_ = nullptr;
    QPushButton* dumpProgram_ = nullptr;
    QPushButton* setZero_ = nullptr;
    QPushButton* openLogFolder_ = nullptr;
    QTableView* statusList_ = nullptr;
    StatusTableModel* statusModel_ = nullptr;
    CommandField* command_ = nullptr;
    IpAddressField* address_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* runTest_ = nullptr;
    JogUpButton* jogUp_ = nullptr;
    JogDownButton* jogDown_ = nullptr;
    QSlider* speed_ = nullptr;
    QPlainTextEdit* transcript_ = nullptr;
    QLabel* testStatus_ = nullptr;
    std::array<QCheckBox*, 4> axes_{};
    QMenu* systemMenu_ = nullptr;
    std::map<int, QTimer*> timers_;
    Controller& controller_;
    SessionStatus commandSession_;
    SessionStatus recordSession_;
    std::shared_ptr<WindowOperator> windowOps_;
    PlotsWindow* plots_ = nullptr;
    ScopeWindow* scope_ = nullptr;
    TrafficWindow* traffic_ = nullptr;
    QShortcut* trafficShortcut_ = nullptr;
    LinkHealth health_;
    QTimer* healthTimer_ = nullptr;
    LinkHealth::Clock::time_point stripSetAt_{};
    std::uint64_t errorsClearedAt_ = 0;  // the traffic's sequence when a test or Connect began
    LinkStrip* strip_ = nullptr;
    int controllerPort_ = 0;
    QString connectedEndpoint_;
    int shownVerdictTest_ = 0;
    int shownVerdictKind_ = -1;
    bool shutDown_ = false;
};

// The one main dialog while its window exists, else null. Window's thread only.
extern MainWindow* g_mainWindow;

}  // namespace trevane
