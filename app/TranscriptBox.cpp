// SPDX-License-Identifier: MIT
#include "app/TranscriptBox.h"

#include <QAccessible>
#include <QScrollBar>
#include <QTextCursor>

TranscriptBox::TranscriptBox(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setTabChangesFocus(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setUndoRedoEnabled(false); // nothing typed to undo; appends must not pile up
}

void TranscriptBox::setSource(Transcript *source)
{
    m_source = source;
    m_shownReplacements = ~quint64(0); // all of it to show anew
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

bool TranscriptBox::onlyGrew() const
{
    const QString &text = Text();
    if (m_source->replacements() != m_shownReplacements || text.size() < m_shownLength)
        return false;
    // A CR shown as a break of its own, whose LF has just come, makes one
    // break with it: the whole text is shown again.
    return m_shownLength == 0 || text.size() == m_shownLength ||
           !(text[m_shownLength - 1] == u'\r' && text[m_shownLength] == u'\n');
}

void TranscriptBox::showAppended()
{
    const QString more = Transcript::displayText(Text().mid(m_shownLength));
    m_shownLength = Text().size();
    if (more.isEmpty())
        return;
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(more); // heard as this text inserted, and only this
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    // Each new line said alone; of a burst, the newest few.
    QStringList lines = more.split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines.mid(std::max<qsizetype>(0, lines.size() - MaxAnnounced))) {
        QAccessibleAnnouncementEvent announcement(this, line);
        QAccessible::updateAccessibility(&announcement);
    }
#endif
}

void TranscriptBox::refresh()
{
    m_refreshQueued = false;
    if (onlyGrew()) {
        showAppended();
    } else {
        m_shownLength = Text().size();
        m_shownReplacements = m_source->replacements();
        setPlainText(Transcript::displayText(Text()));
    }
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
