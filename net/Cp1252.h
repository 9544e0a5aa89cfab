#pragma once

#include <QByteArray>
#include <QString>

// The protocol's peers speak Windows-1252, one byte per character. Qt 6 has no
// codec for it without ICU, and the table is small, so we carry our own.
class Cp1252
{
public:
    // A character the code page cannot hold becomes one "?" per code point.
    static QByteArray encode(QStringView text);
    static QString decode(QByteArrayView bytes);
};
