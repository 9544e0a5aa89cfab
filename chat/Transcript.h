// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// The transcript's text, CR LF line ends and all, with its housekeeping:
// after any change that leaves more than 10000 characters, only the last 1000
// are kept. The limits count the characters exactly as held, whatever a
// widget shows. Appending costs time in proportion to what is appended.
class Transcript
{
public:
    static constexpr qsizetype MaxLength = 10000;
    static constexpr qsizetype KeepLength = 1000;

    const QString &text() const { return m_text; }
    // Counts the changes that were not appends at the end: a new text, or
    // a cut. While it stays the same, the text only grew at its end.
    quint64 replacements() const { return m_replacements; }
    void append(QStringView more);
    void setText(const QString &text);

    // The text as a widget shows it: one line break per CR LF, no 0x00.
    static QString displayText(const QString &text);

private:
    void keepBounded();

    QString m_text;
    quint64 m_replacements = 0;
};
