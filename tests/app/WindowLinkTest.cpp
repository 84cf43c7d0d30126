#include <filesystem>
#include <fstream>
#include <string>

#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include "app/CommandField.h"
#include "app/CommandHistory.h"
#include "app/ControlIds.h"
#include "app/StatusTableModel.h"
#include "app/WindowHarness.h"
#include "common/Clock.h"
#include "link/ControllerLink.h"
#include "net/TcpMotionClient.h"

namespace trevane::testing {
namespace {

using WindowLinkTest = WindowTest;

QString Cell(MainWindow& dialog, int row, int column) {
    return dialog.StatusModel().Cell(row, column);
}

bool TableFilled(MainWindow& dialog) {
    for (int row = 0; row < 13; ++row) {
        for (int column = 1; column < 5; ++column) {
            if (Cell(dialog, row, column).isEmpty()) {
                return false;
            }
        }
    }
    return true;
}

// A loopback port on which nothing listens any more.
std::uint16_t DeadPort(const std::shared_ptr<sim::Machine>& machine) {
    sim::Server server(machine, "127.0.0.1", 0);
    return server.Port();
}

TEST_F(WindowLinkTest, ConnectFillsTheTableOnTheFirstTickWithOneUpdatePerPoll) {
    MainWindow& dialog = OpenDialog();
    Connect();
    EXPECT_TRUE(Transcript().endsWith("\n"));
    EXPECT_TRUE(Transcript().startsWith("127.0.0.1")) << Transcript().toStdString();
    EXPECT_EQ(Transcript().count('\n'), 1) << "one description line";

    auto* timer = dialog.findChild<QTimer*>("IDT_1");
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 10);
    EXPECT_EQ(timer->timerType(), Qt::PreciseTimer);

    QSignalSpy ticks(timer, &QTimer::timeout);
    QSignalSpy updates(&dialog.StatusModel(), &QAbstractItemModel::dataChanged);
    ASSERT_TRUE(ticks.wait(5000));
    // The spy hears the tick after the window has polled: one poll, one update of all 52 cells.
    EXPECT_TRUE(TableFilled(dialog));
    ASSERT_EQ(updates.count(), 1);
    const auto topLeft = updates.first().at(0).toModelIndex();
    const auto bottomRight = updates.first().at(1).toModelIndex();
    EXPECT_EQ(topLeft.row(), 0);
    EXPECT_EQ(topLeft.column(), 1);
    EXPECT_EQ(bottomRight.row(), 12);
    EXPECT_EQ(bottomRight.column(), 4);
    EXPECT_EQ(Cell(dialog, 12, 1), "1") << "the motor is off after power-up";
    EXPECT_EQ(Cell(dialog, 0, 0), "refpos");

    // A machine at rest changes nothing, so later polls need no repaint at all.
    updates.clear();
    ASSERT_TRUE(ticks.wait(5000));
    EXPECT_LE(updates.count(), 1);
}

TEST_F(WindowLinkTest, AFailedConnectSaysSoAndLeavesTheTableFrozen) {
    MainWindow& dialog = OpenDialog();
    Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return TableFilled(dialog); }, 2000));
    const QString transcriptBefore = Transcript();
    const QString cellBefore = Cell(dialog, 12, 2);

    const std::uint16_t deadPort = DeadPort(machine_);
    SetSessionFactory(MakeTcpSessionFactory(deadPort));
    dialog.SetStatusCell(12, 2, "frozen");
    MessageBoxWatcher boxes;
    Dialog().ConnectButton()->click();

    ASSERT_EQ(boxes.Seen().size(), 1u);
    const SeenMessageBox& box = boxes.Seen().front();
    EXPECT_EQ(box.text, "Connection Failed");
    EXPECT_EQ(box.caption, "Diagnostics");
    EXPECT_EQ(box.icon, QMessageBox::NoIcon);
    EXPECT_EQ(box.buttonCount, 1);
    EXPECT_TRUE(box.hasOkButton);
    EXPECT_EQ(box.owner, &dialog) << "owned by the main window";
    // Why, behind the box's fixed text: the step, the address and port, and what failed.
    EXPECT_TRUE(box.detailedText.contains("127.0.0.1:" + QString::number(deadPort)))
        << box.detailedText.toStdString();
    EXPECT_TRUE(box.detailedText.startsWith("opening the command session"))
        << box.detailedText.toStdString();

    EXPECT_FALSE(Connected());
    EXPECT_FALSE(dialog.TimerRunning(kStatusTimer));
    QTest::qWait(50);
    EXPECT_EQ(Cell(dialog, 12, 2), "frozen") << "no poll after the failed Connect";
    EXPECT_EQ(Transcript(), transcriptBefore);
    EXPECT_FALSE(cellBefore.isEmpty());
}

TEST_F(WindowLinkTest, EnterInTheEntrySendsTheCommandAndShowsTheReply) {
    MainWindow& dialog = OpenDialog();
    Connect();
    machine_->ClearReceived();
    auto* entry = Dialog().CommandEntry();
    entry->setFocus();
    QTest::keyClicks(entry, "TPX");
    EXPECT_EQ(Window()->CommandText(), "TPX") << "typing alone sends nothing";
    EXPECT_TRUE(machine_->ReceivedCommands().empty());

    QTest::keyClick(entry, Qt::Key_Return);
    EXPECT_EQ(machine_->ReceivedCommands(), std::vector<std::string>{"TPX"});
    EXPECT_TRUE(entry->toPlainText().isEmpty()) << "the entry is cleared";
    EXPECT_TRUE(Transcript().endsWith("\n0\n")) << Transcript().toStdString();
    EXPECT_TRUE(dialog.isVisible()) << "Enter in the entry does not end the dialog";

    // The keypad's Enter submits as well, once per press, an empty entry included.
    QTest::keyClick(entry, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(machine_->ReceivedCommands().size(), 2u);
    EXPECT_EQ(machine_->ReceivedCommands().back(), "");
}

TEST_F(WindowLinkTest, CtrlEnterInTheEntryBreaksTheLineAndSendsNothing) {
    OpenDialog();
    Connect();
    machine_->ClearReceived();
    auto* entry = Dialog().CommandEntry();
    entry->setFocus();
    QTest::keyClicks(entry, "TPX");
    QTest::keyClick(entry, Qt::Key_Return, Qt::ControlModifier);
    QTest::keyClick(entry, Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
    QTest::keyClicks(entry, "TPY");
    EXPECT_TRUE(machine_->ReceivedCommands().empty()) << "Ctrl+Enter does not send";
    EXPECT_EQ(Window()->CommandText(), "TPX\r\n\r\nTPY");

    // Plain Enter still sends, line breaks and all, and clears the entry.
    QTest::keyClick(entry, Qt::Key_Return);
    ASSERT_FALSE(machine_->ReceivedCommands().empty());
    EXPECT_EQ(machine_->ReceivedCommands().front(), "TPX");
    EXPECT_TRUE(entry->toPlainText().isEmpty());
}

TEST_F(WindowLinkTest, UpAndDownRecallEarlierCommandsWithoutSendingAndTheNextRunKeepsThem) {
    OpenDialog();
    Connect();
    auto* entry = Dialog().CommandEntry();
    entry->setFocus();
    for (const char* command : {"TPX", "MG _TPY", "MG _TPY", "TPZ"}) {
        QTest::keyClicks(entry, command);
        QTest::keyClick(entry, Qt::Key_Return);
    }
    machine_->ClearReceived();
    const QString transcript = Transcript();

    QTest::keyClicks(entry, "TP");  // half typed: given back after the newest
    const auto press = [&entry](Qt::Key key) {
        QTest::keyClick(entry, key);
        return entry->toPlainText();
    };
    EXPECT_EQ(press(Qt::Key_Up), "TPZ") << "most recent first";
    EXPECT_EQ(press(Qt::Key_Up), "MG _TPY") << "a repeat is kept once";
    EXPECT_EQ(press(Qt::Key_Up), "TPX");
    EXPECT_EQ(press(Qt::Key_Up), "TPX") << "nothing past the oldest";
    EXPECT_EQ(press(Qt::Key_Down), "MG _TPY");
    EXPECT_EQ(press(Qt::Key_Down), "TPZ");
    EXPECT_EQ(press(Qt::Key_Down), "TP");
    EXPECT_TRUE(machine_->ReceivedCommands().empty()) << "recalling never sends";
    EXPECT_EQ(Transcript(), transcript);

    press(Qt::Key_Up);
    QTest::keyClick(entry, Qt::Key_Return);
    EXPECT_EQ(machine_->ReceivedCommands(), std::vector<std::string>{"TPZ"});
    EXPECT_TRUE(entry->toPlainText().isEmpty());

    CloseDialog();
    OpenDialog();
    entry = Dialog().CommandEntry();
    entry->setFocus();
    EXPECT_EQ(press(Qt::Key_Up), "TPZ") << "the history outlives the run";
    EXPECT_EQ(press(Qt::Key_Up), "MG _TPY");
}

TEST_F(WindowLinkTest, TheHistoryFileKeepsLineBreaksAndTheNewestThousandAndNamesAFailedSave) {
    CommandHistory history;
    for (int i = 0; i < 1005; ++i) {
        history.Add("TP" + std::to_string(i));
    }
    history.Add("TPX\\r\\nTPY");
    history.Add("TPX\r\nTPY");
    ASSERT_EQ(history.Entries().size(), CommandHistory::kCapacity);
    const std::string path = HistoryFile().toStdString();
    ASSERT_EQ(history.Save(path), std::nullopt);

    CommandHistory loaded;
    ASSERT_EQ(loaded.Load(path), std::nullopt);
    EXPECT_EQ(loaded.Entries(), history.Entries());
    EXPECT_EQ(loaded.Entries().front(), "TPX\r\nTPY");
    EXPECT_EQ(loaded.Entries()[1], "TPX\\r\\nTPY");
    EXPECT_EQ(loaded.Entries().back(), "TP7");
    std::ofstream(path, std::ios::trunc).close();
    EXPECT_EQ(loaded.Load(path), std::nullopt) << "an empty file is an empty history";
    EXPECT_TRUE(loaded.Entries().empty());

    // A folder where the file should be: the entry says what failed, with which file, and
    // still sends.
    std::filesystem::remove(path);
    std::filesystem::create_directories(std::filesystem::path(path) / "in-the-way");
    OpenDialog();
    Connect();
    auto* entry = Dialog().CommandEntry();
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->HistoryError().contains(HistoryFile()))
        << entry->HistoryError().toStdString();
    machine_->ClearReceived();
    entry->setFocus();
    QTest::keyClicks(entry, "TPX");
    QTest::keyClick(entry, Qt::Key_Return);
    EXPECT_EQ(machine_->ReceivedCommands(), std::vector<std::string>{"TPX"});
    EXPECT_TRUE(entry->HistoryError().contains(HistoryFile()))
        << entry->HistoryError().toStdString();
    EXPECT_EQ(entry->History().Entries().front(), "TPX");
}

TEST_F(WindowLinkTest, APastedLineBreakStaysInTheCommand) {
    OpenDialog();
    Connect();
    machine_->ClearReceived();
    auto* entry = Dialog().CommandEntry();
    entry->setFocus();
    QApplication::clipboard()->setText("TPX\nTPY");
    QTest::keyClick(entry, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Window()->CommandText(), "TPX\r\nTPY");

    QTest::keyClick(entry, Qt::Key_Return);
    const auto received = machine_->ReceivedCommands();
    ASSERT_FALSE(received.empty());
    std::string joined;
    for (const auto& line : received) {
        joined += line + "|";
    }
    EXPECT_NE(joined.find("TPX"), std::string::npos) << joined;
    EXPECT_NE(joined.find("TPY"), std::string::npos) << joined;
    EXPECT_TRUE(entry->toPlainText().isEmpty());
}

TEST_F(WindowLinkTest, TheTranscriptContinuesWhatTheOperatorTyped) {
    MainWindow& dialog = OpenDialog();
    auto* transcript = Dialog().Transcript();
    auto* entry = Dialog().CommandEntry();

    // Before any Connect the exchange fails: the error line, then the empty reply's line.
    entry->setFocus();
    QTest::keyClicks(entry, "TPX");
    QTest::keyClick(entry, Qt::Key_Return);
    EXPECT_EQ(Transcript(), "a command error occurred\n\n");
    EXPECT_TRUE(entry->toPlainText().isEmpty());
    EXPECT_EQ(transcript->textCursor().position(), Transcript().size()) << "scrolled to the end";

    Connect();
    transcript->setFocus();
    transcript->moveCursor(QTextCursor::End);
    QTest::keyClicks(transcript, "note: ");
    QTest::keyClick(transcript, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible()) << "Enter in the transcript breaks the line";
    QTest::keyClicks(transcript, "X is ");
    entry->setFocus();
    QTest::keyClicks(entry, "TPX");
    QTest::keyClick(entry, Qt::Key_Return);
    EXPECT_TRUE(Transcript().endsWith("note: \nX is 0\n")) << Transcript().toStdString();
}

TEST_F(WindowLinkTest, TranscriptAppendsKeepLineBreaksAndTheOperatorsView) {
    MainWindow& dialog = OpenDialog();
    auto* transcript = Dialog().Transcript();
    auto window = Window();
    window->AppendTranscript("first\r\nsecond");
    window->AppendTranscript(" continued\r\n");
    EXPECT_EQ(Transcript(), "first\nsecond continued\n");
    EXPECT_EQ(transcript->document()->blockCount(), 3);
    EXPECT_FALSE(transcript->document()->isUndoAvailable()) << "an append leaves nothing to undo";

    // A hundred thousand lines later an append still lands at the end, and the operator's view
    // and cursor stay where they were until the logic scrolls.
    std::string block;
    for (int i = 0; i < 1000; ++i) {
        block += "line " + std::to_string(i) + "\r\n";
    }
    for (int i = 0; i < 100; ++i) {
        window->AppendTranscript(block);
    }
    transcript->moveCursor(QTextCursor::Start);
    transcript->verticalScrollBar()->setValue(0);
    window->AppendTranscript("the end\r\n");
    EXPECT_EQ(transcript->document()->blockCount(), 3 + 100000 + 1);
    EXPECT_TRUE(Transcript().endsWith("line 999\nthe end\n"));
    EXPECT_TRUE(Transcript().startsWith("first\n"));
    EXPECT_EQ(transcript->textCursor().position(), 0);
    EXPECT_EQ(transcript->verticalScrollBar()->value(), 0);

    window->ScrollTranscriptToEnd();
    EXPECT_EQ(transcript->textCursor().position(), Transcript().size());
    EXPECT_TRUE(transcript->textCursor().selectedText().isEmpty());
    EXPECT_GT(transcript->verticalScrollBar()->value(), 99000);
    EXPECT_TRUE(transcript->viewport()->rect().contains(transcript->cursorRect()));
    (void)dialog;
}

TEST_F(WindowLinkTest, TheDumpsMessageLeavesTheMainWindowUsable) {
    MainWindow& dialog = OpenDialog();
    Connect();
    machine_->SetStoredProgram("#A\nEN\n");
    int blocked = 0;
    struct BlockCounter : QObject {
        int* count;
        explicit BlockCounter(int* c) : count(c) {}
        bool eventFilter(QObject*, QEvent* event) override {
            *count += event->type() == QEvent::WindowBlocked;
            return false;
        }
    } counter(&blocked);
    dialog.installEventFilter(&counter);

    MessageBoxWatcher boxes;
    Dialog().DumpProgramButton()->click();
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].text, "Dumped to logProgram.txt");
    EXPECT_EQ(boxes.Seen()[0].owner, nullptr);
    EXPECT_EQ(blocked, 0) << "a box owned by no window blocks nothing";

    // The Connect failure's box, owned by the window, does block it.
    SetSessionFactory(MakeTcpSessionFactory(DeadPort(machine_)));
    Dialog().ConnectButton()->click();
    ASSERT_EQ(boxes.Seen().size(), 2u);
    EXPECT_GE(blocked, 1);
    dialog.removeEventFilter(&counter);
}

// The controller closes a command session left idle past its limit. The next command typed goes
// out on a fresh session and is answered; the transcript says once why, and no Connect was needed.
TEST_F(WindowLinkTest, ACommandAfterTheControllerClosedTheIdleSessionIsAnsweredOnAFreshOne) {
    auto clock = std::make_shared<VirtualClock>();
    SetSystemClock(clock);
    machine_ = std::make_shared<sim::Machine>(clock);
    SetSessionFactory(sim::InProcessSessionFactory(
        machine_, sim::InProcessOptions{std::chrono::milliseconds(3000)}));
    MainWindow& dialog = OpenDialog();
    QSignalSpy connects(dialog.ConnectButton(), &QPushButton::clicked);
    Connect();
    const QString connected = Transcript();
    clock->Advance(std::chrono::seconds(5));  // past the limit: the controller closes the session
    machine_->ClearReceived();

    auto* entry = Dialog().CommandEntry();
    entry->setFocus();
    QTest::keyClicks(entry, "TPX");
    QTest::keyClick(entry, Qt::Key_Return);
    EXPECT_EQ(machine_->ReceivedCommands(), std::vector<std::string>{"TPX"});
    EXPECT_EQ(Transcript(), connected +
                                "command session reopened: the controller had closed it after "
                                "5 s idle\n0\n");
    EXPECT_TRUE(entry->toPlainText().isEmpty());

    QTest::keyClicks(entry, "TPY");
    QTest::keyClick(entry, Qt::Key_Return);
    EXPECT_TRUE(Transcript().endsWith("idle\n0\n0\n")) << Transcript().toStdString();
    EXPECT_EQ(Transcript().count("command session reopened"), 1) << "told once";
    EXPECT_EQ(connects.count(), 1) << "no Connect after the first";
    EXPECT_TRUE(Connected());
    EXPECT_TRUE(dialog.TimerRunning(kStatusTimer)) << "the status polls go on";
}

}  // namespace
}  // namespace trevane::testing
