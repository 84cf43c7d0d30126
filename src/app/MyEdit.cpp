#include "app/MyEdit.h"

#include <QKeyEvent>
#include <QTextDocument>

#include "app/RunHandler.h"
#include "console/CommandEntry.h"

namespace trevane {

CMyEdit::CMyEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setWordWrapMode(QTextOption::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(true);
    document()->setDocumentMargin(1);
}

void CMyEdit::keyPressEvent(QKeyEvent* event) {
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
    QPlainTextEdit::keyPressEvent(event);
}

bool CMyEdit::OnChar(int character) {
    if (character == '\n') {
        insertPlainText(QStringLiteral("\n"));
        return true;
    }
    if (character != '\r') {
        return false;
    }
    RunHandler("command entry", [] { SubmitCommand(); });
    return true;
}

}  // namespace trevane
