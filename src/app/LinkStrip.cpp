#include "app/LinkStrip.h"

#include <QHBoxLayout>
#include <QLabel>

namespace trevane {
namespace {

constexpr int kMargin = 2;

}  // namespace

LinkStrip::LinkStrip(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("LinkStrip"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(kMargin + 2, kMargin, kMargin + 2, kMargin);
    layout->setSpacing(12);
    link_ = new QLabel(QStringLiteral("not connected"), this);
    link_->setObjectName(QStringLiteral("LinkStripLink"));
    link_->setTextFormat(Qt::PlainText);
    link_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    layout->addWidget(link_, 1);
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

int LinkStrip::StripHeight() const {
    // A fixed height from the font, not from the text, so the window never changes size.
    return fontMetrics().height() + 2 * kMargin;
}

}  // namespace trevane
