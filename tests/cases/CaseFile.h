// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

// The rule cases every client of the stage and the server run alike, as
// JSON files in this folder.
namespace CaseFile {

inline QJsonObject load(const QString &name)
{
    QFile file(QStringLiteral(QUANDREL_CASES_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read the cases %s", qPrintable(file.fileName()));
    return QJsonDocument::fromJson(file.readAll()).object();
}

// A text of the cases: a string, or a list of [part, times] to repeat.
inline QString text(const QJsonValue &value)
{
    if (!value.isArray())
        return value.toString();
    QString out;
    for (const QJsonValue &part : value.toArray())
        out += part[0].toString().repeated(part[1].toInt());
    return out;
}

// Bytes as the cases write them: one character a byte.
inline QByteArray bytes(const QJsonValue &value)
{
    return text(value).toLatin1();
}

} // namespace CaseFile
