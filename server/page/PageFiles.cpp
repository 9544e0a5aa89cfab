// SPDX-License-Identifier: MIT
#include "server/page/PageFiles.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>

namespace {

QByteArray typeOf(const QString &path)
{
    static const std::pair<const char *, const char *> types[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},
        {".png", "image/png"},
        {".gif", "image/gif"},
    };
    for (const auto &[suffix, type] : types) {
        if (path.endsWith(QLatin1String(suffix)))
            return type;
    }
    return "application/octet-stream";
}

} // namespace

PageFiles::PageFiles(const QString &folder)
{
    for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        File entry{file.readAll(), typeOf(path), {}};
        entry.etag =
            '"' + QCryptographicHash::hash(entry.body, QCryptographicHash::Sha1).toHex().left(16) +
            '"';
        m_files.insert(path.mid(folder.size()).toUtf8(), entry);
    }
    if (auto index = m_files.constFind("/index.html"); index != m_files.cend())
        m_files.insert("/", *index);
    if (auto icon = m_files.constFind("/icon.png"); icon != m_files.cend())
        m_files.insert("/favicon.ico", *icon);
}

const PageFiles::File *PageFiles::find(const QByteArray &path) const
{
    const auto found = m_files.constFind(path);
    return found == m_files.cend() ? nullptr : &*found;
}
