// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// The page's files, read once from the resources compiled into the server:
// nothing is ever read from the disk to serve it.
class PageFiles
{
public:
    struct File
    {
        QByteArray body;
        QByteArray type;
        QByteArray etag;
    };

    // Every file under a resource folder, by its path below it; the folder's
    // index.html also as "/", and its icon.png as "/favicon.ico".
    explicit PageFiles(const QString &folder = QStringLiteral(":/web"));

    // The file at a request's path, or nothing.
    const File *find(const QByteArray &path) const;
    qsizetype size() const { return m_files.size(); }

private:
    QHash<QByteArray, File> m_files;
};
