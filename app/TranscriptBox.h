// SPDX-License-Identifier: MIT
#pragma once

#include "chat/Transcript.h"

#include <QPlainTextEdit>

// The read-only transcript box. It shows a Transcript, which keeps the text
// exactly as the program wrote it (CR LF, 0x00 and all); however often the
// text changes in one turn of the event loop, the box repaints once.
class TranscriptBox : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit TranscriptBox(QWidget *parent);

    // The transcript shown from now on; it must outlive the box.
    void setSource(Transcript *source);
    const QString &Text() const { return m_source->text(); }
    void setText(const QString &text);
    // Tells the box that its transcript changed.
    void changed();
    // The caret as a position in Text().
    qsizetype SelStart() const { return m_selStart; }
    void setSelStart(qsizetype position);

signals:
    void Change();
    void GotFocus();

protected:
    void focusInEvent(QFocusEvent *event) override;

private:
    void refresh();
    void showEnd();

    Transcript m_own;
    Transcript *m_source = &m_own;
    qsizetype m_selStart = 0;
    bool m_refreshQueued = false;
};
