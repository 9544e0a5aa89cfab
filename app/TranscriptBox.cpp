#include "app/TranscriptBox.h"

#include "chat/Transcript.h"

#include <QScrollBar>

TranscriptBox::TranscriptBox(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setTabChangesFocus(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
}

void TranscriptBox::setText(const QString &text)
{
    m_text = text;
    m_selStart = qMin(m_selStart, m_text.size());
    setPlainText(Transcript::displayText(m_text));
    emit Change();
}

void TranscriptBox::setSelStart(qsizetype position)
{
    m_selStart = qBound<qsizetype>(0, position, m_text.size());
    if (m_selStart == m_text.size()) {
        moveCursor(QTextCursor::End);
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    }
}

void TranscriptBox::focusInEvent(QFocusEvent *event)
{
    QPlainTextEdit::focusInEvent(event);
    emit GotFocus();
}
