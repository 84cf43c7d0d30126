#include <filesystem>
#include <memory>
#include <string>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPen>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <qcustomplot.h>

#include "app/PlotsWindow.h"
#include "app/WindowHarness.h"
#include "autotest/TestLog.h"
#include "autotest/TestRecorder.h"
#include "autotest/TestRunner.h"
#include "common/Clock.h"
#include "history/History.h"
#include "link/ControllerLink.h"
#include "report/TestReport.h"
#include "report/TestVerdict.h"

namespace trevane::testing {
namespace {

int PlotsWindowsOpen() {
    int open = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        open += qobject_cast<PlotsWindow*>(widget) != nullptr && widget->isVisible() ? 1 : 0;
    }
    return open;
}

// A test of `moves` moves with `samples` cycles each, written on this thread as the test
// thread would; move m's cycle c reads torque m + c / 1000 and error -(100 m + c).
void RecordSyntheticTest(TestRecorder& recorder, int testNumber, int moves, int samples,
                         bool finish) {
    recorder.BeginTest(testNumber);
    for (int move = 0; move < moves; ++move) {
        recorder.BeginMove(move, "XYZ"[move / 2], move % 2 == 0 ? -20000 : 0);
        for (int cycle = 0; cycle < samples; ++cycle) {
            const float torque = static_cast<float>(move) + static_cast<float>(cycle) / 1000;
            const float error = -static_cast<float>(100 * move + cycle);
            recorder.AddSample(12.0 * cycle, torque, error, torque, -error);
        }
        recorder.EndMoveWatch();
        recorder.SetCurrentError("3");
        recorder.SetCurrentPosition(move % 2 == 0 ? "-20000" : "0");
    }
    if (finish) {
        recorder.EndTest(TestOutcome::Completed);
        recorder.FinishOwnRecord(TestOutcome::Completed);
    }
}

using PlotsWindowTest = WindowTest;

TEST_F(PlotsWindowTest, CtrlPAndTheMenuOpenOneModelessWindow) {
    MainWindow& dialog = OpenDialog();
    EXPECT_EQ(dialog.Plots(), nullptr) << "made on first use only";

    QTest::keyClick(&dialog, Qt::Key_P, Qt::ControlModifier);
    PlotsWindow* plots = dialog.Plots();
    ASSERT_NE(plots, nullptr);
    EXPECT_TRUE(plots->isVisible());
    EXPECT_TRUE(plots->isWindow());
    EXPECT_FALSE(plots->isModal());

    // The menu offers it after "Traffic...", then "Scope...", before the About entry's separator.
    QList<QAction*> actions = dialog.SystemMenu()->actions();
    ASSERT_EQ(actions.size(), 5);
    EXPECT_EQ(actions[0]->text(), "Traffic...");
    EXPECT_EQ(actions[2]->text(), "Scope...");
    EXPECT_TRUE(actions[3]->isSeparator());
    EXPECT_EQ(actions[4]->text(), "&About Ostrel...");
    actions.removeFirst();

    plots->close();
    EXPECT_FALSE(plots->isVisible());
    actions[0]->trigger();
    EXPECT_EQ(dialog.Plots(), plots) << "opening again reuses the window";
    EXPECT_TRUE(plots->isVisible());
    QTest::keyClick(&dialog, Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(PlotsWindowsOpen(), 1);

    // The main window stays usable beside it, and its title is untouched.
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Trevane");
}

TEST_F(PlotsWindowTest, EveryMoveGetsATorqueAndAnErrorSeriesBetweenDashedLimits) {
    TestRecorder& recorder = Recorder();
    PlotsWindow plots(TheController());
    RecordSyntheticTest(recorder, 1, kMovesPerTest, 200, true);
    plots.Refresh();

    for (int move = 0; move < kMovesPerTest; ++move) {
        const PlotsWindow::MovePlot& plot = plots.Plot(move);
        ASSERT_EQ(plot.torque->dataCount(), 200) << move;
        ASSERT_EQ(plot.error->dataCount(), 200) << move;
        EXPECT_DOUBLE_EQ(plot.torque->data()->at(199)->key, 12.0 * 199);
        EXPECT_FLOAT_EQ(static_cast<float>(plot.torque->data()->at(7)->value), move + 0.007f);
        EXPECT_DOUBLE_EQ(plot.error->data()->at(7)->value, -(100.0 * move + 7));
        EXPECT_EQ(plot.torque->valueAxis(), plot.torqueAxis);
        EXPECT_EQ(plot.error->valueAxis(), plot.errorAxis);
        EXPECT_TRUE(plot.heading->text().startsWith(
            QString("%1 to %2").arg("XYZ"[move / 2]).arg(move % 2 == 0 ? -20000 : 0)))
            << plot.heading->text().toStdString();

        // Both limits on both signs, dashed, on the axis of their quantity, across the plot.
        const double limits[] = {3.1, -3.1, 700, -700};
        for (int i = 0; i < 4; ++i) {
            QCPItemStraightLine* line = plot.limits[static_cast<std::size_t>(i)];
            EXPECT_DOUBLE_EQ(line->point1->value(), limits[i]);
            EXPECT_DOUBLE_EQ(line->point2->value(), limits[i]) << "level, so endless in time";
            EXPECT_EQ(line->pen().style(), Qt::DashLine);
            QCPAxis* axis = i < 2 ? plot.torqueAxis : plot.errorAxis;
            EXPECT_EQ(line->point1->valueAxis(), axis);
        }
        EXPECT_GE(plot.time->range().upper, 12.0 * 199) << "the time axis spans the samples";
        // Move 5's torque reaches 5.2 V: the axis grows to show it.
        EXPECT_GE(plot.torqueAxis->range().upper, move + 0.199);
    }
    EXPECT_TRUE(plots.SummaryText().startsWith("Test 1: completed."))
        << plots.SummaryText().toStdString();
}

// Each move's heading says how much of each limit it used: what was left before an abort.
TEST_F(PlotsWindowTest, EachMoveTellsItsShareOfBothLimits) {
    TestRecorder& recorder = Recorder();
    PlotsWindow plots(TheController());
    RecordSyntheticTest(recorder, 1, kMovesPerTest, 200, true);
    plots.Refresh();
    // X's move out peaks at 0.199 V and -199 counts.
    EXPECT_TRUE(plots.Plot(0).heading->text().endsWith(
        "max 0.20 V (6 % of its limit), 199 counts (28 % of its limit)"))
        << plots.Plot(0).heading->text().toStdString();
}

// The text item at a limit line's level on the line's own value axis; null when none is.
const QCPItemText* LabelOf(QCustomPlot& view, const QCPItemStraightLine& line) {
    for (int i = 0; i < view.itemCount(); ++i) {
        const auto* text = qobject_cast<const QCPItemText*>(view.item(i));
        if (text != nullptr && text->position->valueAxis() == line.point1->valueAxis() &&
            text->position->value() == line.point1->value()) {
            return text;
        }
    }
    return nullptr;
}

// A dashed line alone does not say which limit it is: each carries its name, value and unit, at
// its own level on its own axis, inside the plot however the axes grow.
TEST_F(PlotsWindowTest, EachDashedLimitLineSaysWhichLimitItIs) {
    TestRecorder& recorder = Recorder();
    PlotsWindow plots(TheController());
    RecordSyntheticTest(recorder, 1, kMovesPerTest, 200, true);
    plots.Refresh();

    const QString names[] = {"torque limit 3.1 V", "torque limit -3.1 V", "error limit 700 counts",
                             "error limit -700 counts"};
    for (int move = 0; move < kMovesPerTest; ++move) {
        const PlotsWindow::MovePlot& plot = plots.Plot(move);
        for (std::size_t i = 0; i < plot.limits.size(); ++i) {
            const QCPItemStraightLine* line = plot.limits[i];
            const QCPItemText* label = LabelOf(*plot.view, *line);
            ASSERT_NE(label, nullptr) << names[i].toStdString();
            EXPECT_EQ(label->text(), names[i]);
            EXPECT_TRUE(label->visible());
            EXPECT_EQ(label->color(), line->pen().color()) << "in the line's colour";
            EXPECT_TRUE(line->point1->valueAxis()->range().contains(line->point1->value()));
        }
    }
}

TEST_F(PlotsWindowTest, LiveRefreshAppendsOnlyTheNewSamplesAndANewTestStartsAfresh) {
    TestRecorder& recorder = Recorder();
    PlotsWindow plots(TheController());
    RecordSyntheticTest(recorder, 1, 1, 10, false);
    plots.Refresh();
    EXPECT_EQ(plots.Plot(0).torque->dataCount(), 10);

    recorder.BeginMove(1, 'X', 0);
    recorder.AddSample(0, 0.5f, 20, 0.5f, 20);
    plots.Refresh();
    plots.Refresh();  // nothing new: nothing drawn twice
    EXPECT_EQ(plots.Plot(0).torque->dataCount(), 10);
    EXPECT_EQ(plots.Plot(1).torque->dataCount(), 1);
    EXPECT_EQ(plots.Plot(1).error->dataCount(), 1);
    EXPECT_TRUE(plots.Plot(1).heading->text().endsWith("running"));
    recorder.EndTest(TestOutcome::Completed);
    recorder.FinishOwnRecord(TestOutcome::Completed);

    RecordSyntheticTest(recorder, 2, 1, 3, false);
    plots.Refresh();
    EXPECT_EQ(plots.ShownTestNumber(), 2);
    EXPECT_EQ(plots.Plot(0).torque->dataCount(), 3);
    EXPECT_EQ(plots.Plot(1).torque->dataCount(), 0);
    recorder.FinishOwnRecord(TestOutcome::Stopped);
}

TEST_F(PlotsWindowTest, WhileATestRunsTheHeadlineSaysWhatRunsNotWhatIsUnfinished) {
    TestRecorder& recorder = Recorder();
    PlotsWindow plots(TheController());
    recorder.BeginTest(1);
    plots.Refresh();
    EXPECT_EQ(plots.SummaryText(), "Test 1 running: configuration checks.");

    RecordSyntheticTest(recorder, 1, 2, kCyclesPerMove, false);  // X there and back
    recorder.BeginMove(2, 'Y', -20000);
    for (int cycle = 0; cycle < 120; ++cycle) {
        recorder.AddSample(10.0 * cycle, 0.1f, 5, 0.1f, 5);
    }
    plots.Refresh();
    EXPECT_EQ(plots.SummaryText(),
              "Test 1 running: Y moving to -20000 (cycle 120 of 200).  X: passed.");

    recorder.MarkMoveAbort(AbortReason::PositionError, "-753");
    plots.Refresh();
    EXPECT_TRUE(
        plots.SummaryText().startsWith("Test 1 running: after Y's move to -20000.  X: "
                                       "passed.  Y: aborted"))
        << plots.SummaryText().toStdString();
    EXPECT_FALSE(plots.SummaryText().contains("not finished"));
    recorder.FinishOwnRecord(TestOutcome::Stopped);
}

TEST_F(PlotsWindowTest, ThePreviousCompletedTraceOfTheSameControllerIsDrawnUnderTheMove) {
    {
        TestRecorder earlier;
        RecordSyntheticTest(earlier, 1, 2, 7, false);
        earlier.SetIdentity("127.0.0.1:23 Scripted controller");
        earlier.EndTest(TestOutcome::Completed);
        history::History(history::kHistoryFileName)
            .Add(*earlier.FinishOwnRecord(TestOutcome::Completed), {"log.txt", "", ""});
    }
    TestRecorder& recorder = Recorder();
    PlotsWindow plots(TheController());
    recorder.BeginTest(1);
    recorder.SetIdentity("127.0.0.1:23 Scripted controller");
    recorder.BeginMove(0, 'X', -20000);
    recorder.AddSample(0, 0.5f, 20, 0.5f, 20);
    plots.Refresh();
    EXPECT_EQ(plots.Plot(0).previousTorque->dataCount(), 7);
    EXPECT_EQ(plots.Plot(1).previousError->dataCount(), 7);
    EXPECT_EQ(plots.Plot(2).previousTorque->dataCount(), 0);
    EXPECT_EQ(plots.Plot(0).previousTorque->pen().style(), Qt::DashLine);
    recorder.FinishOwnRecord(TestOutcome::Stopped);
}

TEST_F(PlotsWindowTest, AWholeTestInVirtualTimeIsPlottedAndReportedBesideTheLog) {
    auto clock = std::make_shared<VirtualClock>();
    SetSystemClock(clock);
    machine_ = std::make_shared<sim::Machine>(clock);
    SetSessionFactory(sim::InProcessSessionFactory(machine_));
    MainWindow& dialog = OpenDialog();
    EXPECT_TRUE(TheController().Conclusion().ReportEnabled()) << "the window turns the report on";
    PlotsWindow* plots = dialog.OpenPlots();
    Connect();
    Dialog().RunTestButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([] { return !TestState().running.load(); }, 60000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return plots->SummaryText().contains("Report: "); }, 5000))
        << plots->SummaryText().toStdString();

    const int testNumber = plots->ShownTestNumber();
    for (int move = 0; move < kMovesPerTest; ++move) {
        EXPECT_EQ(plots->Plot(move).torque->dataCount(), kCyclesPerMove) << move;
        EXPECT_EQ(plots->Plot(move).error->dataCount(), kCyclesPerMove) << move;
    }
    const TestReportFiles files = ReportFileNames(LogFilePath(), testNumber);
    EXPECT_TRUE(std::filesystem::exists(files.html)) << files.html;
    EXPECT_TRUE(std::filesystem::exists(files.csv)) << files.csv;
    EXPECT_TRUE(plots->SummaryText().contains("X: passed."));
}

// A binding found on Y is shaded where it was on both of Y's moves, and gone with the next test.
TEST_F(PlotsWindowTest, AFindingsStretchIsShadedOnItsMoves) {
    auto clock = std::make_shared<VirtualClock>();
    SetSystemClock(clock);
    machine_ = std::make_shared<sim::Machine>(clock);
    machine_->AddFault(sim::ParseFault("bind:Y:-12000:-8000"));
    SetSessionFactory(sim::InProcessSessionFactory(machine_));
    MainWindow& dialog = OpenDialog();
    PlotsWindow* plots = dialog.OpenPlots();
    Connect();
    Dialog().RunTestButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([] { return !TestState().running.load(); }, 60000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !plots->Plot(2).findingMarks.empty(); }, 5000));
    for (int move = 0; move < kMovesPerTest; ++move) {
        EXPECT_EQ(plots->Plot(move).findingMarks.size(), move == 2 || move == 3 ? 1u : 0u) << move;
    }
    const QCPItemRect* mark = plots->Plot(2).findingMarks[0];
    ASSERT_EQ(plots->Plot(2).findingLabels.size(), 1u);
    EXPECT_EQ(plots->Plot(2).findingLabels[0]->text(),
              "Y: likely binding between -12,000 and -8,000 counts");
    // Y's move out passes -8000 to -12000 between about 0.8 and 1.2 s of its watch.
    EXPECT_NEAR(mark->topLeft->coords().x(), 800, 100);
    EXPECT_NEAR(mark->bottomRight->coords().x(), 1200, 100);

    machine_->ClearFaults();
    Dialog().RunTestButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([] { return !TestState().running.load(); }, 60000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return plots->SummaryText().contains("Report: "); }, 5000));
    EXPECT_TRUE(plots->Plot(2).findingMarks.empty());
}

// The verdict stays in the strip and on the progress bar, in its colour, until the next test.
TEST_F(PlotsWindowTest, TheStripAndTheBarShowTheVerdictInColourUntilTheNextTest) {
    auto clock = std::make_shared<VirtualClock>();
    SetSystemClock(clock);
    machine_ = std::make_shared<sim::Machine>(clock);
    SetSessionFactory(sim::InProcessSessionFactory(machine_));
    MainWindow& dialog = OpenDialog();
    Connect();
    auto* progress = Dialog().ProgressBar();
    const auto runTest = [&] {
        Dialog().RunTestButton()->click();
        EXPECT_TRUE(dialog.Strip()->VerdictText().isEmpty()) << "a new test clears the last";
        EXPECT_TRUE(QTest::qWaitFor([] { return !TestState().running.load(); }, 60000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.Strip()->VerdictText().isEmpty(); }));
    };
    runTest();
    const QString passed = dialog.Strip()->VerdictText();
    EXPECT_TRUE(passed.startsWith("Test result: X passed, Y passed, Z passed."))
        << passed.toStdString();
    // The strip reads the verdict from the core; the transcript gets it through the event queue.
    EXPECT_TRUE(QTest::qWaitFor([&] { return Transcript().endsWith(passed + "\n"); }))
        << Transcript().right(200).toStdString();
    const QColor green = dialog.Strip()->VerdictColour();
    EXPECT_GT(green.green(), 2 * green.red());
    EXPECT_EQ(progress->palette().color(QPalette::Highlight), green);

    // A stuck switch passes, but amber and named: never the plain pass's green.
    machine_->AddFault(sim::ParseFault("limit:Y:forward"));
    runTest();
    const QString warned = dialog.Strip()->VerdictText();
    EXPECT_TRUE(warned.contains("Warning: Y forward limit switch active at rest")) << warned.toStdString();
    const QColor warnedColour = dialog.Strip()->VerdictColour();
    EXPECT_TRUE(warnedColour.red() > warnedColour.green() && warnedColour.green() > warnedColour.blue())
        << warnedColour.name().toStdString();
    EXPECT_EQ(progress->palette().color(QPalette::Highlight), warnedColour);
    machine_->ClearFaults();

    machine_->AddFault(sim::ParseFault("stall:Y"));
    runTest();
    const QString aborted = dialog.Strip()->VerdictText();
    EXPECT_TRUE(aborted.contains("Y aborted")) << aborted.toStdString();
    const QColor red = dialog.Strip()->VerdictColour();
    EXPECT_GT(red.red(), 2 * red.green());
    EXPECT_EQ(progress->palette().color(QPalette::Highlight), red);

    // A lost link is red and says so.
    machine_->ClearFaults();
    // Cut in the middle of an exchange (a session closed between two is reopened); the command
    // session is past its 100th request already.
    machine_->AddFault(sim::ParseFault("cut:100"));
    runTest();
    EXPECT_TRUE(
        dialog.Strip()->VerdictText().startsWith("Test result: link lost during the checks"))
        << dialog.Strip()->VerdictText().toStdString();
    EXPECT_EQ(dialog.Strip()->VerdictColour(), red);

    // An unverified test (readings failed, as reject:TTY makes them) is amber, never green.
    TestVerdict unverified = *LastTestVerdict();
    unverified.kind = TestVerdict::Kind::Unverified;
    ASSERT_TRUE(TheController().Conclusion().SetLastVerdict(
        TheController().Conclusion().ClearLastVerdict(), unverified));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.Strip()->VerdictColour() != red; }));
    const QColor amber = dialog.Strip()->VerdictColour();
    EXPECT_TRUE(amber.red() > amber.green() && amber.green() > amber.blue())
        << amber.name().toStdString();
    EXPECT_EQ(progress->palette().color(QPalette::Highlight), amber);
}

}  // namespace
}  // namespace trevane::testing
