#include <chrono>

#include <QBrush>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "app/DialogTemplate.h"
#include "app/DialogUnits.h"
#include "app/LinkHealth.h"
#include "app/LinkStrip.h"
#include "app/StatusTableModel.h"
#include "app/WindowHarness.h"
#include "link/ControllerLink.h"
#include "net/TcpMotionClient.h"
#include "sim/Simulator.h"

namespace trevane::testing {
namespace {

using namespace std::chrono_literals;
using Clock = LinkHealth::Clock;

TEST(LinkHealthFigures, TheLastErrorSaysHowOldItIs) {
    const QString reason = QStringLiteral("1 Unrecognized command");
    EXPECT_EQ(LastErrorText(reason, 0s), "last error just now: 1 Unrecognized command");
    EXPECT_EQ(LastErrorText(reason, 59s), "last error 59 s ago: 1 Unrecognized command");
    EXPECT_EQ(LastErrorText(reason, 3min + 59s), "last error 3 min ago: 1 Unrecognized command");
    EXPECT_EQ(LastErrorText(reason, 2h), "last error 2 h ago: 1 Unrecognized command");
}

TEST(LinkHealthFigures, TheLineFollowsTheLinkInTheCLocale) {
    LinkHealth health;
    const Clock::time_point start{};
    EXPECT_EQ(health.LinkText(start, false), "not connected");
    EXPECT_FALSE(health.Stale(start, false)) << "empty cells are not stale";

    health.ConnectPressed();
    EXPECT_EQ(health.LinkText(start, false), "connecting");
    health.ConnectEnded();
    EXPECT_EQ(health.LinkText(start, true), "waiting for the first status");

    // 100 polls 10 ms apart, each answered in 0.25 ms; the process runs under a decimal-comma
    // locale, and the figures still use a point.
    Clock::time_point sent = start;
    for (int poll = 0; poll < 100; ++poll) {
        sent = start + poll * 10ms;
        health.PollDone(sent, sent + 250us, true);
    }
    const Clock::time_point now = sent + 5ms;
    EXPECT_FALSE(health.Stale(now, true));
    EXPECT_EQ(health.PollsPerSecond(now), 100);
    EXPECT_EQ(health.LinkText(now, true), "100 polls/s, 0.3 ms");

    // Failed polls leave the age running; past 100 ms the values are stale.
    health.PollDone(sent + 10ms, sent + 11ms, false);
    EXPECT_FALSE(health.Stale(sent + 100ms, true));
    EXPECT_TRUE(health.Stale(sent + 101ms, true));
    EXPECT_EQ(health.LinkText(sent + 1500ms, true), "values 1.5 s old (no reply)");

    // A Connect makes them stale at once, and a failed one keeps them so.
    health.ConnectPressed();
    EXPECT_TRUE(health.Stale(sent + 1ms, true));
    health.ConnectEnded();
    EXPECT_TRUE(health.Stale(sent + 1ms, false));
    EXPECT_EQ(health.LinkText(sent + 2s, false), "not connected, values 2.0 s old");
}

TEST(LinkHealthFigures, ASlowReplyIsStaleEvenRightAfterItArrives) {
    LinkHealth health;
    health.ConnectPressed();
    health.ConnectEnded();
    const Clock::time_point sent{};
    health.PollDone(sent, sent + 160ms, true);
    EXPECT_TRUE(health.Stale(sent + 160ms, true));
    EXPECT_EQ(health.LinkText(sent + 160ms, true), "values 0.2 s old (1 polls/s, 160.0 ms)");
}

class LinkHealthWindowTest : public WindowTest {
  protected:
    StatusTableModel& Model() { return Dialog().StatusModel(); }
    bool Greyed() {
        const QVariant foreground = Model().data(Model().index(0, 1), Qt::ForegroundRole);
        return foreground.isValid() &&
               foreground.value<QBrush>().color() ==
                   QGuiApplication::palette().color(QPalette::Disabled, QPalette::Text);
    }
    QString StripText() { return Dialog().Strip()->LinkText(); }
    bool TitleKept() { return Dialog().windowTitle() == "Trevane"; }
    bool Live() { return !Model().Stale() && !Greyed() && StripText().endsWith(" ms"); }
    bool StaleShown() { return Model().Stale() && Greyed() && StripText().contains(" s old"); }
};

TEST_F(LinkHealthWindowTest, TheStripSaysNotConnectedOrWhereTheLinkLeads) {
    MainWindow& dialog = OpenDialog();
    QTest::qWait(120);
    EXPECT_EQ(dialog.windowTitle(), "Trevane");
    EXPECT_EQ(StripText(), "not connected");
    EXPECT_FALSE(Model().Stale());
    EXPECT_TRUE(dialog.Strip()->EndpointText().isEmpty());
    dialog.SetControllerPort(5023);
    Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.Strip()->EndpointText().isEmpty(); }));
    EXPECT_EQ(dialog.Strip()->EndpointText(), "at 127.0.0.1:5023");
    CloseLink();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.Strip()->EndpointText().isEmpty(); }));
}

TEST_F(LinkHealthWindowTest, TheStripSitsUnderTheControlsAndOnlyAddsItsHeight) {
    MainWindow& dialog = OpenDialog();
    const QSize area = MapDialogSize(dialog.BaseUnits(), kMainDialogSize);
    LinkStrip* strip = dialog.Strip();
    ASSERT_NE(strip, nullptr);
    EXPECT_TRUE(strip->isVisible());
    EXPECT_GT(strip->height(), 0);
    EXPECT_EQ(strip->geometry(), QRect(0, area.height(), area.width(), strip->height()));
    EXPECT_EQ(dialog.size(), QSize(area.width(), area.height() + strip->height()));
    for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child != strip && child->isVisible()) {
            EXPECT_LE(child->geometry().bottom(), area.height())
                << child->objectName().toStdString();
        }
    }
    // The strip's height is fixed: a longer text never resizes the window.
    const int height = strip->height();
    strip->SetLinkText(QStringLiteral("values 12.3 s old (no reply)"));
    strip->SetEndpoint(QStringLiteral("127.0.0.1:5023"));
    const QString verdict = QStringLiteral(
        "Test result: X passed, Y aborted (position error -753 "
        "above 700), Z aborted (torque 3.4 above 3.1). Report: "
        "logFile.txt 120726-120433.html");
    strip->SetVerdict(verdict, Qt::red);
    strip->SetLastError(QStringLiteral("last error: 1 Unrecognized command, and more to say"));
    QApplication::processEvents();
    EXPECT_EQ(strip->height(), height);
    // Long fields are cut to fit, never wider than the strip, and keep their whole text.
    for (QLabel* field : strip->findChildren<QLabel*>()) {
        if (field->isVisible()) {
            EXPECT_TRUE(strip->rect().contains(field->geometry()))
                << field->objectName().toStdString();
        }
    }
    auto* shown = strip->findChild<QLabel*>("LinkStripVerdict");
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->toolTip(), verdict);
    EXPECT_EQ(dialog.size(), QSize(area.width(), area.height() + height));
}

TEST_F(LinkHealthWindowTest, ASlowControllerGreysTheTableUntilItAnswersInTimeAgain) {
    // Over loopback: a 150 ms reply delay keeps the session alive, and clearing it brings the
    // polls back without a new Connect.
    sim::Server server(machine_, "127.0.0.1", 0);
    SetSessionFactory(MakeTcpSessionFactory(server.Port()));
    MainWindow& dialog = OpenDialog();
    Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Live(); }, 5000)) << StripText().toStdString();
    EXPECT_TRUE(StripText().contains(" polls/s, ")) << StripText().toStdString();
    EXPECT_TRUE(TitleKept()) << dialog.windowTitle().toStdString();

    machine_->AddFault(sim::ParseFault("delay:150"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return StaleShown(); }, 5000)) << StripText().toStdString();

    EXPECT_TRUE(TitleKept()) << dialog.windowTitle().toStdString();

    machine_->ClearFaults();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Live(); }, 5000)) << StripText().toStdString();
    EXPECT_TRUE(TitleKept()) << dialog.windowTitle().toStdString();
    EXPECT_TRUE(Connected());
}

TEST_F(LinkHealthWindowTest, ASilentControllerLeavesTheValuesGreyAndAgeing) {
    MainWindow& dialog = OpenDialog();
    Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Live(); }, 5000));
    const QString before = Model().Cell(1, 1);

    machine_->AddFault(sim::ParseFault("silent"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return StaleShown(); }, 5000)) << StripText().toStdString();
    EXPECT_EQ(Model().Cell(1, 1), before) << "the last values stay readable";
    EXPECT_TRUE(TitleKept()) << dialog.windowTitle().toStdString();

    // The silent link spent the session; a Connect brings the table back to life.
    machine_->ClearFaults();
    Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Live(); }, 5000)) << StripText().toStdString();
}

TEST_F(LinkHealthWindowTest, AFailedConnectGreysTheLastValues) {
    MainWindow& dialog = OpenDialog();
    Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Live(); }, 5000));
    EXPECT_TRUE(TitleKept()) << dialog.windowTitle().toStdString();
    SetSessionFactory(nullptr);  // Connect now fails at once
    MessageBoxWatcher boxes;
    bool greyWhileFailing = false;
    QString stripWhileFailing;
    QString titleWhileFailing;
    boxes.whileOpen = [&] {
        greyWhileFailing = Model().Stale();
        stripWhileFailing = StripText();
        titleWhileFailing = dialog.windowTitle();
    };
    Dialog().ConnectButton()->click();
    EXPECT_EQ(boxes.Seen().size(), 1u);
    EXPECT_TRUE(greyWhileFailing);
    EXPECT_TRUE(Model().Stale());
    EXPECT_TRUE(stripWhileFailing.startsWith("connecting")) << stripWhileFailing.toStdString();
    EXPECT_EQ(titleWhileFailing, "Trevane");
    EXPECT_TRUE(StripText().startsWith("not connected, values ")) << StripText().toStdString();
    EXPECT_TRUE(TitleKept()) << dialog.windowTitle().toStdString();
}

}  // namespace
}  // namespace trevane::testing
