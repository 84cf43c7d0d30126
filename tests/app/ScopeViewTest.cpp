#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>

#include <gtest/gtest.h>
#include <QApplication>
#include <QComboBox>
#include <QStyle>
#include <QStyleOptionComboBox>

#include "app/ScopeWindow.h"
#include "common/Clock.h"

// What the Scope shows of records it is handed on the virtual clock, 10 ms apart.
namespace trevane::testing {
namespace {

using namespace std::chrono_literals;

constexpr scope::Channel kXRefPos{0, scope::kRefPos};
constexpr scope::Channel kYErrorPos{1, scope::kErrorPos};
constexpr scope::Channel kXVelocity{0, scope::kVelocity};

class ScopeViewTest : public ::testing::Test {
  protected:
    void SetUp() override { SetSystemClock(clock_); }
    void TearDown() override {
        window_.reset();
        SetSystemClock(nullptr);
    }

    ScopeWindow& Window() {
        if (!window_) {
            window_ = std::make_unique<ScopeWindow>(buffer_);
        }
        return *window_;
    }

    // Polls for `duration` with every channel reading `value(seconds since the start)`, with
    // the Scope's refresh in step.
    void Poll(std::chrono::milliseconds duration,
              const std::function<scope::RecordValues(double)>& value) {
        for (auto done = 0ms; done < duration; done += 10ms) {
            clock_->Advance(10ms);
            buffer_.AddValues(clock_->Now(),
                              value(std::chrono::duration<double>(clock_->Elapsed()).count()));
            if (done.count() % ScopeWindow::kRefreshMs == 0) {
                Window().Refresh();
            }
        }
        Window().Refresh();
    }

    // How far inside the trace's scale its lowest and highest shown values lie, as a share of
    // the scale: 0 on the frame's edge.
    struct Room {
        double below;
        double above;
    };
    Room RoomOf(int trace) {
        const QCPGraph* graph = Window().Plot()->Graph(trace);
        double low = INFINITY;
        double high = -INFINITY;
        for (auto point = graph->data()->constBegin(); point != graph->data()->constEnd();
             ++point) {
            low = std::min(low, point->value);
            high = std::max(high, point->value);
        }
        const QCPRange range = Window().Plot()->ValueAxis(trace)->range();
        return {(low - range.lower) / range.size(), (range.upper - high) / range.size()};
    }

    std::shared_ptr<VirtualClock> clock_ = std::make_shared<VirtualClock>();
    scope::ScopeBuffer buffer_;
    std::unique_ptr<ScopeWindow> window_;
};

// X's move to -20000 as the automatic test makes it, and Y's error that settles at -140: each
// comes to rest at its extreme, where a flat line on the frame's edge would not be seen.
scope::RecordValues MoveThatComesToRest(double seconds) {
    scope::RecordValues values{};
    const double share = std::clamp(seconds / 2.0, 0.0, 1.0);
    values[kXRefPos.Index()] = static_cast<std::int32_t>(std::lround(-20000 * share));
    values[kYErrorPos.Index()] = static_cast<std::int32_t>(std::lround(-140 * share));
    return values;
}

TEST_F(ScopeViewTest, TheAutomaticScaleKeepsAFlatStretchAtTheExtremeInsideTheFrame) {
    ASSERT_TRUE(Window().AddTrace(kXRefPos));
    ASSERT_TRUE(Window().AddTrace(kYErrorPos));
    // Through the move, its end, and the rest alone in the frame.
    Window().SetSpan(2);
    for (int step = 0; step < 50; ++step) {
        Poll(100ms, MoveThatComesToRest);
        for (int trace = 0; trace < 2; ++trace) {
            const Room room = RoomOf(trace);
            EXPECT_GE(room.below, 0.03) << Window().Trace(trace).Name().toStdString() << " at "
                                        << clock_->Elapsed().count() / 1000000 << " ms";
            EXPECT_GE(room.above, 0.03) << Window().Trace(trace).Name().toStdString() << " at "
                                        << clock_->Elapsed().count() / 1000000 << " ms";
        }
    }
    EXPECT_DOUBLE_EQ(Window().Plot()->Graph(0)->data()->at(0)->value, -20000)
        << "the frame holds only the rest by now";
}

// The width the selector gives its current text.
int TextRoom(QComboBox& combo) {
    QStyleOptionComboBox option;
    option.initFrom(&combo);
    option.editable = combo.isEditable();
    option.frame = combo.hasFrame();
    return combo.style()
        ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, &combo)
        .width();
}

TEST_F(ScopeViewTest, TheTriggerSelectorIsWideEnoughForItsLongestEntry) {
    Window().show();
    QApplication::processEvents();
    for (const scope::Channel channel :
         {kXVelocity, kYErrorPos, scope::Channel{3, scope::kReverseLimit}}) {
        ASSERT_TRUE(Window().AddTrace(channel));
    }
    QApplication::processEvents();
    auto* selector = Window().findChild<QComboBox*>("ScopeTriggerSource");
    ASSERT_NE(selector, nullptr);
    ASSERT_EQ(selector->count(), 4);
    for (int item = 0; item < selector->count(); ++item) {
        const QString text = selector->itemText(item);
        EXPECT_GE(TextRoom(*selector), selector->fontMetrics().horizontalAdvance(text))
            << text.toStdString();
    }
}

// A velocity that crosses 5000 counts/s upwards at 0.5 s and every 3 s after.
scope::RecordValues VelocityPulses(double seconds) {
    scope::RecordValues values{};
    const double sincePulse = std::fmod(seconds, 3.0);
    values[kXVelocity.Index()] = sincePulse >= 0.5 && sincePulse < 1.0 ? 10000 : 0;
    return values;
}

TEST_F(ScopeViewTest, TheStatusCountsTheTriggersInWords) {
    ASSERT_TRUE(Window().AddTrace(kXVelocity));
    Window().SetSpan(2);
    Window().SetTrigger(0, 5000, scope::Edge::Rising);
    Window().Run();
    Poll(400ms, VelocityPulses);
    EXPECT_EQ(Window().StateText(), "waiting for the trigger");
    Poll(2600ms, VelocityPulses);  // a crossing at 0.5 s, its frame whole at 2 s
    EXPECT_EQ(Window().StateText(), "triggered 1 time, waiting for the next");
    Poll(2500ms, VelocityPulses);
    EXPECT_EQ(Window().StateText(), "triggered 2 times, waiting for the next");
}

}  // namespace
}  // namespace trevane::testing
