#include "app/LinkStrip.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QPalette>

namespace trevane {
namespace {

constexpr int kMargin = 2;

QLabel* AddField(QLabel* label, const char* name, QHBoxLayout* layout, int stretch) {
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setVisible(false);
    layout->addWidget(label, stretch);
    return label;
}

}  // namespace

QString LastErrorText(const QString& reason, std::chrono::seconds age) {
    const long long seconds = std::max<long long>(0, age.count());
    QString when;
    if (seconds < 1) {
        when = QStringLiteral("just now");
    } else if (seconds < 60) {
        when = QStringLiteral("%1 s ago").arg(seconds);
    } else if (seconds < 3600) {
        when = QStringLiteral("%1 min ago").arg(seconds / 60);
    } else {
        when = QStringLiteral("%1 h ago").arg(seconds / 3600);
    }
    return QStringLiteral("last error ") + when + QStringLiteral(": ") + reason;
}

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::SetFullText(const QString& text) {
    if (text == full_) {
        return;
    }
    full_ = text;
    setToolTip(text);
    Elide();
}

QSize ElidedLabel::minimumSizeHint() const {
    return {0, QLabel::minimumSizeHint().height()};
}

QSize ElidedLabel::sizeHint() const {
    return {fontMetrics().horizontalAdvance(full_), QLabel::sizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Elide();
}

void ElidedLabel::Elide() {
    setText(fontMetrics().elidedText(full_, Qt::ElideRight, width()));
}

LinkStrip::LinkStrip(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("LinkStrip"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(kMargin + 2, kMargin, kMargin + 2, kMargin);
    layout->setSpacing(12);
    link_ = AddField(new QLabel(this), "LinkStripLink", layout, 0);
    link_->setText(QStringLiteral("not connected"));
    link_->setVisible(true);
    endpoint_ = AddField(new QLabel(this), "LinkStripEndpoint", layout, 0);
    recording_ = AddField(new QLabel(this), "LinkStripRecording", layout, 0);
    jog_ = AddField(new QLabel(this), "LinkStripJog", layout, 0);
    verdict_ =
        static_cast<ElidedLabel*>(AddField(new ElidedLabel(this), "LinkStripVerdict", layout, 3));
    error_ =
        static_cast<ElidedLabel*>(AddField(new ElidedLabel(this), "LinkStripError", layout, 2));
    layout->addStretch(0);
    setFixedHeight(StripHeight());
}

void LinkStrip::SetLinkText(const QString& text) {
    if (text != link_->text()) {
        link_->setText(text);
    }
}

QString LinkStrip::LinkText() const {
    return link_->text();
}

void LinkStrip::SetEndpoint(const QString& endpoint) {
    const QString text = endpoint.isEmpty() ? QString() : QStringLiteral("at ") + endpoint;
    if (text != endpoint_->text()) {
        endpoint_->setText(text);
        endpoint_->setVisible(!text.isEmpty());
    }
}

QString LinkStrip::EndpointText() const {
    return endpoint_->text();
}

void LinkStrip::SetVerdict(const QString& text, const QColor& colour) {
    verdict_->SetFullText(text);
    QPalette palette = verdict_->palette();
    palette.setColor(QPalette::WindowText,
                     colour.isValid() ? colour : this->palette().color(QPalette::WindowText));
    verdict_->setPalette(palette);
    verdict_->setVisible(!text.isEmpty());
}

QString LinkStrip::VerdictText() const {
    return verdict_->FullText();
}

QColor LinkStrip::VerdictColour() const {
    return verdict_->palette().color(QPalette::WindowText);
}

void LinkStrip::SetLastError(const QString& text) {
    error_->SetFullText(text);
    error_->setVisible(!text.isEmpty());
}

QString LinkStrip::LastErrorText() const {
    return error_->FullText();
}

void LinkStrip::SetRecording(const QString& text) {
    if (text != recording_->text()) {
        recording_->setText(text);
        recording_->setVisible(!text.isEmpty());
    }
}

QString LinkStrip::RecordingText() const {
    return recording_->text();
}

void LinkStrip::SetJogNotice(const QString& text) {
    if (text != jog_->text()) {
        jog_->setText(text);
        jog_->setVisible(!text.isEmpty());
    }
}

QString LinkStrip::JogNoticeText() const {
    return jog_->text();
}

int LinkStrip::StripHeight() const {
    // A fixed height from the font, not from the text, so the window never changes size.
    return fontMetrics().height() + 2 * kMargin;
}

}  // namespace trevane
