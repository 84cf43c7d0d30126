#include "app/CommandField.h"

#include <QKeyEvent>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "app/RunHandler.h"
#include "console/CommandEntry.h"

namespace trevane {
namespace {

std::optional<QString> g_historyFileOverride;

}  // namespace

QString CommandHistoryFile() {
    if (g_historyFileOverride) {
        return *g_historyFileOverride;
    }
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/command-history.txt");
}

void SetCommandHistoryFile(std::optional<QString> path) {
    g_historyFileOverride = std::move(path);
}

CommandField::CommandField(QWidget* parent)
    : QPlainTextEdit(parent), historyFile_(CommandHistoryFile()) {
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setWordWrapMode(QTextOption::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(true);
    document()->setDocumentMargin(1);
    if (!historyFile_.isEmpty()) {
        if (const auto failure = history_.Load(historyFile_.toStdString())) {
            historyError_ = QString::fromStdString(*failure);
            qWarning("trevane: %s", failure->c_str());
        }
    }
}

void CommandField::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers().testFlag(Qt::ControlModifier)) {
        // Ctrl+Enter types a line feed, which a multi-line edit takes as a line break.
        OnChar('\n');
        event->accept();
        return;
    }
    if (enter && OnChar('\r')) {
        event->accept();
        return;
    }
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) &&
        Recall(event->key() == Qt::Key_Up)) {
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

bool CommandField::Recall(bool older) {
    // A pasted command of several lines keeps Up and Down for moving between its lines.
    const QTextBlock block = textCursor().block();
    if (older ? block.previous().isValid() : block.next().isValid()) {
        return false;
    }
    const std::optional<std::string> recalled =
        older ? history_.Older(toPlainText().toStdString()) : history_.Newer();
    if (recalled) {
        setPlainText(QString::fromStdString(*recalled));
        moveCursor(QTextCursor::End);
    }
    // Past either end the key does nothing, as in a shell.
    return older || history_.Recalling() || recalled.has_value();
}

bool CommandField::OnChar(int character) {
    if (character == '\n') {
        insertPlainText(QStringLiteral("\n"));
        return true;
    }
    if (character != '\r') {
        return false;
    }
    const QString command = toPlainText();
    if (link_ != nullptr) {
        RunHandler("command entry", [this] { SubmitCommand(*link_); });
    }
    Remember(command);
    return true;
}

void CommandField::Remember(const QString& command) {
    if (!history_.Add(command.toStdString()) || historyFile_.isEmpty()) {
        return;
    }
    // A history that cannot be kept costs the operator nothing now; it is named, not fatal.
    const auto failure = history_.Save(historyFile_.toStdString());
    historyError_ = failure ? QString::fromStdString(*failure) : QString();
    if (failure) {
        qWarning("trevane: %s", failure->c_str());
    }
}

}  // namespace trevane
