// SPDX-License-Identifier: MIT
#pragma once

#include "chat/Transcript.h"

#include <QPlainTextEdit>

// The read-only transcript box. It shows a Transcript, which keeps the text
// exactly as the program wrote it (CR LF, 0x00 and all); however often the
// text changes in one turn of the event loop, the box changes once. What was
// appended is added at the end of what the box shows, so that assistive
// technology hears of the new lines alone, not of the whole text again.
class TranscriptBox : public QPlainTextEdit
{
    Q_OBJECT
public:
    // New lines announced in one turn at most (the newest of a burst).
    static constexpr qsizetype MaxAnnounced = 5;

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
    bool onlyGrew() const;
    void showAppended();

    Transcript m_own;
    Transcript *m_source = &m_own;
    qsizetype m_selStart = 0;
    bool m_refreshQueued = false;
    // How much of the transcript the box shows, and as of which replacement.
    qsizetype m_shownLength = 0;
    quint64 m_shownReplacements = ~quint64(0);
};
