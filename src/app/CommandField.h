#pragma once

#include <optional>

#include <QPlainTextEdit>
#include <QString>

#include "app/CommandHistory.h"

namespace trevane {

class ControllerLink;

// The command entry: a one-line box in which Enter sends the command instead of breaking the
// line. It is a plain-text editor one line high, because a single-line editor would strip the
// line breaks that an operator pastes into a command, and those are sent as they are.
//
// Up and Down recall the commands sent before, from this run and earlier ones; a recalled
// command is only shown, and Enter sends it as it would a typed one.
class CommandField final : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit CommandField(QWidget* parent = nullptr);

    // The controller link a typed command goes to; none: Enter sends nothing.
    void SetLink(ControllerLink* link) { link_ = link; }

    const CommandHistory& History() const { return history_; }
    // What the last save of the history said went wrong; empty after a good one.
    QString HistoryError() const { return historyError_; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    ControllerLink* link_ = nullptr;
    // A typed character; 13 (carriage return, from Enter) submits the command, 10 (line feed,
    // from Ctrl+Enter) breaks the line.
    bool OnChar(int character);
    bool Recall(bool older);
    void Remember(const QString& command);

    CommandHistory history_;
    QString historyFile_;
    QString historyError_;
};

// The file that keeps the entry's history between runs: in the user's data folder unless
// SetCommandHistoryFile chose another; empty when the history is kept for this run only.
QString CommandHistoryFile();
// Read by each entry made afterwards. Tests point it into their own folder; the screenshot run
// passes an empty path, since what it types is no operator's. Nothing: the user's data folder.
void SetCommandHistoryFile(std::optional<QString> path);

}  // namespace trevane
