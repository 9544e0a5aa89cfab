#pragma once

#include <QString>

// Housekeeping of the transcript's own text, CR LF line ends and all: the
// limits count its characters exactly as held, whatever a widget shows.
class Transcript
{
public:
    static constexpr qsizetype MaxLength = 10000;
    static constexpr qsizetype KeepLength = 1000;

    static bool tooLong(const QString &text) { return text.size() > MaxLength; }
    // The last KeepLength characters; the cut may fall inside a line.
    static QString cut(const QString &text) { return text.right(KeepLength); }
    // The text as a widget shows it: one line break per CR LF, no 0x00.
    static QString displayText(const QString &text);
};
