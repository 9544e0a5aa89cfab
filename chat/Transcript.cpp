// SPDX-License-Identifier: MIT
#include "chat/Transcript.h"

void Transcript::append(QStringView more)
{
    m_text.append(more);
    keepBounded();
}

void Transcript::setText(const QString &text)
{
    m_text = text;
    ++m_replacements;
    keepBounded();
}

void Transcript::keepBounded()
{
    // A cut happens at most once per 9000 characters appended, so its cost
    // spreads thinly over the appends that led to it.
    if (m_text.size() > MaxLength) {
        m_text = m_text.right(KeepLength);
        ++m_replacements;
    }
}

QString Transcript::displayText(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QChar(0))
            continue;
        if (c == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                continue; // the LF that follows makes the break
            shown.append(u'\n');
            continue;
        }
        shown.append(c);
    }
    return shown;
}
