#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <QString>
#include <QTimer>
#include <QWidget>

#include "autotest/TestRecorder.h"

class QCPAxis;
class QCPGraph;
class QCPItemRect;
class QCPItemStraightLine;
class QCPItemText;
class QCPTextElement;
class QCustomPlot;
class QLabel;

namespace trevane {

class Controller;

// Torque and position error of every move of the current (or last) automatic test, one small
// chart per move in the order X, Y, Z by rows and "to -20000", "to 0" by columns, so that a
// technician compares the axes at a glance. While a test runs the move under watch grows live.
// A top-level window of its own: closing it changes nothing for the test.
class PlotsWindow final : public QWidget {
    Q_OBJECT
  public:
    // 20 Hz: smooth for the eye, a few percent of a core on the window's thread.
    static constexpr int kRefreshMs = 50;

    // The plots of `controller`'s tests.
    explicit PlotsWindow(Controller& controller, QWidget* parent = nullptr);
    ~PlotsWindow() override;

    struct MovePlot {
        QCustomPlot* view = nullptr;
        QCPTextElement* heading = nullptr;
        QCPGraph* torque = nullptr;
        QCPGraph* error = nullptr;
        // The previous completed test's trace of the move on this controller, under the current.
        QCPGraph* previousTorque = nullptr;
        QCPGraph* previousError = nullptr;
        std::array<QCPItemStraightLine*, 4> limits{};  // +torque, -torque, +error, -error; dashed
        std::array<QCPItemText*, 4> limitLabels{};     // what each limit line is
        std::vector<QCPItemRect*> findingMarks;        // where a finding's evidence is
        std::vector<QCPItemText*> findingLabels;       // and what it found there
        QCPAxis* time = nullptr;
        QCPAxis* torqueAxis = nullptr;
        QCPAxis* errorAxis = nullptr;
        std::size_t drawn = 0;  // samples already in the graphs
        QString title;
        bool changed = false;  // to be redrawn at the end of this look
    };
    const MovePlot& Plot(int moveIndex) const {
        return plots_[static_cast<std::size_t>(moveIndex)];
    }
    QString SummaryText() const;
    int ShownTestNumber() const { return shownTest_; }

    // One look at the recorder: draws what is new since the last look. The timer calls it while
    // the window is shown.
    void Refresh();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    MovePlot MakePlot(int moveIndex);
    void StartTest(const TestRecord& summary);
    void UpdateMove(const MoveSummary& move);
    void FitAxes(MovePlot& plot, float torque, float error, double timeMs);
    void SetTitle(MovePlot& plot, const QString& title);
    void UpdateSummary(const TestRecord& summary);
    void ShowPreviousTraces(const std::string& connectionText);
    // Once the ended test's verdict is there: shades each finding's stretch of its moves.
    void MarkFindings(const TestRecord& summary);
    void ClearFindingMarks();

    Controller& controller_;
    TestRecorder& recorder_;
    QTimer refresh_;
    QLabel* summary_ = nullptr;
    std::array<MovePlot, kMovesPerTest> plots_;
    std::uint64_t shownVersion_ = 0;
    int shownTest_ = -1;
    bool awaitingReport_ = false;
    bool awaitingVerdict_ = false;  // the ended test's verdict has not come yet
    bool findingsMarked_ = false;   // the shown test's findings are marked
    bool previousShown_ = false;
    std::chrono::system_clock::time_point shownStart_{};
};

}  // namespace trevane
