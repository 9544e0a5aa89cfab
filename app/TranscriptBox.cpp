// SPDX-License-Identifier: MIT
#include "app/TranscriptBox.h"

#include <QScrollBar>

TranscriptBox::TranscriptBox(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setTabChangesFocus(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
}

void TranscriptBox::setSource(Transcript *source)
{
    m_source = source;
    changed();
}

void TranscriptBox::setText(const QString &text)
{
    m_source->setText(text);
    changed();
}

void TranscriptBox::changed()
{
    m_selStart = qMin(m_selStart, Text().size());
    emit Change();
    if (!m_refreshQueued) {
        m_refreshQueued = true;
        QMetaObject::invokeMethod(this, &TranscriptBox::refresh, Qt::QueuedConnection);
    }
}

void TranscriptBox::refresh()
{
    m_refreshQueued = false;
    setPlainText(Transcript::displayText(Text()));
    if (m_selStart == Text().size())
        showEnd();
}

void TranscriptBox::showEnd()
{
    moveCursor(QTextCursor::End);
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TranscriptBox::setSelStart(qsizetype position)
{
    m_selStart = qBound<qsizetype>(0, position, Text().size());
    if (!m_refreshQueued && m_selStart == Text().size())
        showEnd();
}

void TranscriptBox::focusInEvent(QFocusEvent *event)
{
    QPlainTextEdit::focusInEvent(event);
    emit GotFocus();
}
