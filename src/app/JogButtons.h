#pragma once

#include <QPushButton>

namespace trevane {

class ControllerLink;

// A hold-to-run button: a left-button press starts a jog, the release sends the stop sequence.
// Other buttons and the keyboard send nothing.
//
// A jog also ends when the button loses the mouse without seeing the release (the window is
// deactivated, loses the focus or is blocked by a modal window, the button is hidden or
// disabled, the window closes): otherwise the axes would go on moving with nobody holding the
// button. The release that follows such an end sends nothing, so each jog ends exactly once.
class JogButton : public QPushButton {
    Q_OBJECT
  public:
    bool JogHeld() const { return jogHeld_; }
    // Sends the stop sequence if the left button is held on this button, once.
    void EndJog();
    // The controller link the jog goes to; none: the button sends nothing.
    void SetLink(ControllerLink* link) { link_ = link; }

  protected:
    JogButton(int direction, const QString& caption, QWidget* parent);

    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

  private:
    const int direction_;
    ControllerLink* link_ = nullptr;
    bool jogHeld_ = false;
};

// "Up": jogs at the slider's position.
class JogUpButton final : public JogButton {
    Q_OBJECT
  public:
    explicit JogUpButton(const QString& caption, QWidget* parent = nullptr);
};

// "Down": jogs at the slider's position negated.
class JogDownButton final : public JogButton {
    Q_OBJECT
  public:
    explicit JogDownButton(const QString& caption, QWidget* parent = nullptr);
};

}  // namespace trevane
