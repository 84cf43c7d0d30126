#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>

#include "app/CommandField.h"
#include "app/LinkStrip.h"
#include "app/TrafficWindow.h"
#include "app/WindowHarness.h"
#include "common/TraceFormat.h"
#include "traffic/TrafficRecorder.h"

namespace trevane::testing {
namespace {

using TrafficWindowTest = WindowTest;

int RowOf(TrafficModel& model, const std::string& request) {
    for (int row = 0; row < model.rowCount(); ++row) {
        if (model.Entry(row).request == request) {
            return row;
        }
    }
    return -1;
}

void Send(QPlainTextEdit* entry, const char* command) {
    QTest::keyClicks(entry, command);
    QTest::keyClick(entry, Qt::Key_Return);
}

TEST_F(TrafficWindowTest, ARejectedCommandShowsWithItsReasonInTheTableAndTheStrip) {
    MainWindow& dialog = OpenDialog();
    Traffic().Clear();
    QTest::keyClick(&dialog, Qt::Key_T, Qt::ControlModifier);
    TrafficWindow* traffic = dialog.TrafficView();
    ASSERT_NE(traffic, nullptr);
    EXPECT_TRUE(traffic->isVisible());
    Connect();
    auto* entry = Dialog().CommandEntry();
    entry->setFocus();
    Send(entry, "NOSUCH");
    EXPECT_TRUE(Transcript().endsWith("a command error occurred\n\n")) << "the transcript keeps "
                                                                          "its fixed text";
    traffic->Refresh();
    TrafficModel& model = traffic->Model();
    const int row = RowOf(model, "NOSUCH\\r");
    ASSERT_GE(row, 0);
    const QString reason = model.index(row, 6).data().toString();
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_EQ(model.index(row, 4).data().toString(), "?");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.Strip()->LastErrorText().isEmpty(); }));
    const QString shown = dialog.Strip()->LastErrorText();
    EXPECT_TRUE(shown.startsWith("last error just now: ") ||
                shown.startsWith("last error 1 s ago: "))
        << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(": " + reason)) << shown.toStdString();
    // A Connect begins anew: the strip forgets the failures before it.
    Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.Strip()->LastErrorText().isEmpty(); }));

    traffic->SetFilter(TrafficModel::Filter::ErrorsOnly);
    ASSERT_GE(model.rowCount(), 1);
    for (int i = 0; i < model.rowCount(); ++i) {
        EXPECT_TRUE(model.Entry(i).Failed()) << i;
    }
    traffic->SetFilter(TrafficModel::Filter::CommandSession);
    EXPECT_GE(RowOf(model, "NOSUCH\\r"), 0);
    for (int i = 0; i < model.rowCount(); ++i) {
        EXPECT_FALSE(model.Entry(i).IsRecordPoll()) << i;
    }
}

TEST_F(TrafficWindowTest, PauseClearAndSaveWriteTheShownLinesWholeOrSayWhatFailed) {
    MainWindow& dialog = OpenDialog();
    TrafficWindow* traffic = dialog.OpenTraffic();
    traffic->SetFilter(TrafficModel::Filter::CommandSession);
    Connect();
    auto* entry = Dialog().CommandEntry();
    entry->setFocus();
    traffic->SetPaused(true);
    Send(entry, "TPX");
    traffic->Refresh();
    EXPECT_LT(RowOf(traffic->Model(), "TPX\\r"), 0) << "paused: nothing new shown";
    traffic->SetPaused(false);
    EXPECT_GE(RowOf(traffic->Model(), "TPX\\r"), 0);

    traffic->ClearShown();
    EXPECT_EQ(traffic->Model().rowCount(), 0);
    Send(entry, "TPY");
    traffic->Refresh();
    ASSERT_EQ(traffic->Model().rowCount(), 1);

    const std::filesystem::path saved = workDir_ / "traffic.txt";
    EXPECT_TRUE(traffic->SaveAs(QString::fromStdString(saved.string())).isEmpty());
    std::ifstream file(saved, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), FormatTrafficLine(traffic->Model().Entry(0)) + "\n");

    const QString nowhere = QString::fromStdString((workDir_ / "missing" / "t.txt").string());
    EXPECT_TRUE(traffic->SaveAs(nowhere).contains(nowhere)) << "names the file it could not write";
}

// The recording keeps every exchange of both sessions (every record poll, not one a second),
// shown or hidden, and the strip says so while it runs.
TEST_F(TrafficWindowTest, RecordingWritesTheWholeTraceWhileTheStripSaysSo) {
    MainWindow& dialog = OpenDialog();
    TrafficWindow* traffic = dialog.OpenTraffic();
    const QString nowhere = QString::fromStdString((workDir_ / "missing" / "t.txt").string());
    EXPECT_TRUE(traffic->StartRecording(nowhere).contains(nowhere));
    EXPECT_FALSE(traffic->Recording());

    const std::filesystem::path path = workDir_ / "trace.txt";
    ASSERT_TRUE(traffic->StartRecording(QString::fromStdString(path.string())).isEmpty());
    EXPECT_TRUE(dialog.Strip()->RecordingText().startsWith("recording to trace.txt: "));
    Connect();
    traffic->hide();
    auto* entry = Dialog().CommandEntry();
    entry->setFocus();
    Send(entry, "TPX");
    const std::uint64_t pollsBefore = Traffic().RecordPolls();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Traffic().RecordPolls() >= pollsBefore + 30; }));
    EXPECT_TRUE(traffic->StopRecording().isEmpty());
    EXPECT_EQ(dialog.Strip()->RecordingText(), "");
    Send(entry, "TPY");

    std::ifstream file(path, std::ios::binary);
    const std::vector<TraceExchange> trace = ReadTrace(file);
    int polls = 0;
    bool sentTpx = false;
    for (const TraceExchange& exchange : trace) {
        polls += exchange.kind == TraceExchange::Kind::Record ? 1 : 0;
        sentTpx = sentTpx || exchange.request == "TPX\r";
        EXPECT_NE(exchange.request, "TPY\r") << "sent after the recording stopped";
    }
    EXPECT_TRUE(sentTpx);
    EXPECT_GE(polls, 30) << "every poll, not one a second";
    EXPECT_EQ(trace.front().request, "HX\r");
}

}  // namespace
}  // namespace trevane::testing
