#include "chat/Transcript.h"

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
