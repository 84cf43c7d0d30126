#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>

#include "app/ControlIds.h"
#include "app/LinkStrip.h"
#include "app/TrafficWindow.h"
#include "app/WindowHarness.h"
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
    COstrelDlg& dialog = OpenDialog();
    Traffic().Clear();
    QTest::keyClick(&dialog, Qt::Key_T, Qt::ControlModifier);
    TrafficWindow* traffic = dialog.TrafficView();
    ASSERT_NE(traffic, nullptr);
    EXPECT_TRUE(traffic->isVisible());
    Connect();
    auto* entry = Control<QPlainTextEdit>(IDC_COMMAND);
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
    COstrelDlg& dialog = OpenDialog();
    TrafficWindow* traffic = dialog.OpenTraffic();
    traffic->SetFilter(TrafficModel::Filter::CommandSession);
    Connect();
    auto* entry = Control<QPlainTextEdit>(IDC_COMMAND);
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

}  // namespace
}  // namespace trevane::testing
