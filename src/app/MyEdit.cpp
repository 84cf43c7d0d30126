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
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && OnChar('\r')) {
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

bool CMyEdit::OnChar(int character) {
    if (character != '\r') {
        return false;
    }
    RunHandler("command entry", [] { SubmitCommand(); });
    return true;
}

}  // namespace trevane
