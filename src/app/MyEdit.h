#pragma once

#include <QPlainTextEdit>

namespace trevane {

// The command entry: a one-line box in which Enter sends the command instead of breaking the
// line. It is a plain-text editor one line high, because a single-line editor would strip the
// line breaks that an operator pastes into a command, and those are sent as they are.
class CMyEdit final : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit CMyEdit(QWidget* parent = nullptr);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    // A typed character; 13 (carriage return, from Enter) submits the command, 10 (line feed,
    // from Ctrl+Enter) breaks the line.
    bool OnChar(int character);
};

}  // namespace trevane
