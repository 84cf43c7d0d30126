#include "app/JogButtons.h"

#include <QMouseEvent>

#include "app/RunHandler.h"
#include "machine/Jog.h"

namespace trevane {

JogButton::JogButton(int direction, const QString& caption, QWidget* parent)
    : QPushButton(caption, parent), direction_(direction) {}

void JogButton::EndJog() {
    if (!jogHeld_) {
        return;
    }
    jogHeld_ = false;
    if (link_ != nullptr) {
        RunHandler("the jog release", [this] { OnJogButtonUp(*link_); });
    }
}

void JogButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        jogHeld_ = true;
        if (link_ != nullptr) {
            RunHandler("the jog press", [this] { OnJogButtonDown(*link_, direction_); });
        }
    }
    QPushButton::mousePressEvent(event);
}

void JogButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        EndJog();
    }
    QPushButton::mouseReleaseEvent(event);
}

void JogButton::focusOutEvent(QFocusEvent* event) {
    EndJog();
    QPushButton::focusOutEvent(event);
}

void JogButton::hideEvent(QHideEvent* event) {
    EndJog();
    QPushButton::hideEvent(event);
}

void JogButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        EndJog();
    }
    QPushButton::changeEvent(event);
}

bool JogButton::event(QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate || event->type() == QEvent::WindowBlocked) {
        EndJog();
    }
    return QPushButton::event(event);
}

JogUpButton::JogUpButton(const QString& caption, QWidget* parent)
    : JogButton(+1, caption, parent) {}

JogDownButton::JogDownButton(const QString& caption, QWidget* parent)
    : JogButton(-1, caption, parent) {}

}  // namespace trevane
