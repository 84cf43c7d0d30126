#include "app/LinkHealth.h"

namespace trevane {
namespace {

double Milliseconds(LinkHealth::Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// QString::number formats in the "C" locale whatever the user's locale is.
QString Seconds(LinkHealth::Clock::duration duration) {
    return QString::number(Milliseconds(duration) / 1000.0, 'f', 1) + QStringLiteral(" s");
}

}  // namespace

void LinkHealth::ConnectPressed() {
    connectPressed_ = true;
    connecting_ = true;
    goodPolls_.clear();
}

void LinkHealth::ConnectEnded() {
    connecting_ = false;
}

void LinkHealth::PollDone(Clock::time_point sent, Clock::time_point done, bool written) {
    if (!written) {
        return;
    }
    lastGoodSent_ = sent;
    lastRoundTrip_ = done - sent;
    goodPolls_.push_back(done);
    DropOldPolls(done);
}

std::optional<LinkHealth::Clock::duration> LinkHealth::Age(Clock::time_point now) const {
    if (!lastGoodSent_) {
        return std::nullopt;
    }
    return now - *lastGoodSent_;
}

bool LinkHealth::Stale(Clock::time_point now, bool connected) const {
    const auto age = Age(now);
    return age && (connecting_ || !connected || *age > kStaleAfter);
}

int LinkHealth::PollsPerSecond(Clock::time_point now) const {
    DropOldPolls(now);
    return static_cast<int>(goodPolls_.size());
}

void LinkHealth::DropOldPolls(Clock::time_point now) const {
    while (!goodPolls_.empty() && now - goodPolls_.front() > kRateWindow) {
        goodPolls_.pop_front();
    }
}

QString LinkHealth::LinkText(Clock::time_point now, bool connected) const {
    if (!connectPressed_) {
        return QStringLiteral("not connected");
    }
    const auto age = Age(now);
    const QString values =
        age ? QStringLiteral(", values ") + Seconds(*age) + QStringLiteral(" old") : QString();
    if (connecting_) {
        return QStringLiteral("connecting") + values;
    }
    if (!connected) {
        return QStringLiteral("not connected") + values;
    }
    if (!age) {
        return QStringLiteral("waiting for the first status");
    }
    const int rate = PollsPerSecond(now);
    const QString link = rate == 0 ? QStringLiteral("no reply")
                                   : QString::number(rate) + QStringLiteral(" polls/s, ") +
                                         QString::number(Milliseconds(lastRoundTrip_), 'f', 1) +
                                         QStringLiteral(" ms");
    if (*age > kStaleAfter) {
        return QStringLiteral("values ") + Seconds(*age) + QStringLiteral(" old (") + link +
               QStringLiteral(")");
    }
    return link;
}

}  // namespace trevane
