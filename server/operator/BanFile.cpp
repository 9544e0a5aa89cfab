// SPDX-License-Identifier: MIT
#include "server/operator/BanFile.h"

#include "net/Cp1252.h"
#include "server/carriers/PeerAddress.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace BanFile {

namespace {

constexpr QLatin1StringView NamePrefix("name:");
constexpr QLatin1StringView UntilPrefix("until=");

// One line of the file: its entry, its expiry if any, and what is past "#".
struct Line
{
    QString entry;
    std::optional<qint64> untilSecs;
    bool badUntil = false;
};

Line lineOf(QString text)
{
    if (const qsizetype hash = text.indexOf(u'#'); hash >= 0)
        text.truncate(hash);
    Line line;
    line.entry = text.trimmed();
    // A name may hold blanks: only a last word "until=..." is no part of it.
    const qsizetype blank = line.entry.lastIndexOf(u' ');
    const QStringView last = QStringView(line.entry).sliced(blank + 1);
    if (!last.startsWith(UntilPrefix))
        return line;
    const QDateTime until =
        QDateTime::fromString(last.sliced(UntilPrefix.size()).toString(), Qt::ISODate);
    if (!until.isValid() || blank < 0) {
        line.badUntil = true;
        return line;
    }
    line.untilSecs = until.toSecsSinceEpoch();
    line.entry = line.entry.first(blank).trimmed();
    return line;
}

bool expired(const Line &line, qint64 nowSecs)
{
    return line.untilSecs && *line.untilSecs <= nowSecs;
}

QString untilText(qint64 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs).toUTC().toString(Qt::ISODate);
}

// Calls `each` with every line of the text and what it holds.
template <typename Each> void forEachLine(QByteArrayView text, Each each)
{
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        const QByteArrayView raw = text.sliced(start, end - start);
        start = end + 1;
        each(raw, lineOf(QString::fromUtf8(raw)));
    }
}

bool sameEntry(const QString &a, const QString &b)
{
    return a.compare(b, a.startsWith(NamePrefix, Qt::CaseInsensitive) ? Qt::CaseInsensitive
                                                                      : Qt::CaseSensitive) == 0;
}

// IPv4 prefixes count from bit 96 of the sixteen-byte form.
int bitsOf(const QHostAddress &address, int length)
{
    return address.protocol() == QAbstractSocket::IPv4Protocol ? 96 + length : length;
}

} // namespace

BanList parse(QByteArrayView text, const LookAlike &lookAlike, QList<Problem> *problems,
              qint64 nowSecs, std::optional<qint64> *nextExpirySecs)
{
    BanList list;
    int number = 0;
    forEachLine(text, [&](QByteArrayView, const Line &parsed) {
        ++number;
        const QString &line = parsed.entry;
        const auto problem = [&](const QString &why) {
            if (problems)
                problems->append({number, why});
        };
        if (line.isEmpty())
            return;
        if (parsed.badUntil) {
            problem(QStringLiteral("after the entry only until=YYYY-MM-DDTHH:MM:SSZ may follow"));
            return;
        }
        if (expired(parsed, nowSecs))
            return;
        if (parsed.untilSecs && nextExpirySecs &&
            (!*nextExpirySecs || *parsed.untilSecs < **nextExpirySecs))
            *nextExpirySecs = parsed.untilSecs;
        if (line.startsWith(NamePrefix, Qt::CaseInsensitive)) {
            const QString look = lookAlike.of(Cp1252::encode(line.mid(NamePrefix.size())));
            if (look.isEmpty())
                problem(QStringLiteral("\"name:\" without a name"));
            else
                list.addName(look);
            return;
        }
        if (line.contains(u'/')) {
            const auto [address, length] = QHostAddress::parseSubnet(line);
            if (address.isNull() || length < 0)
                problem(QStringLiteral("\"%1\" is not an address prefix").arg(line.left(100)));
            else
                list.addPrefix(PeerAddress::from(address), bitsOf(address, length));
            return;
        }
        const QHostAddress address(line);
        if (address.isNull()) {
            problem(QStringLiteral("\"%1\" is not an address, a prefix or name:NAME")
                        .arg(line.left(100)));
            return;
        }
        list.addPrefix(PeerAddress::from(address), 128);
    });
    return list;
}

std::optional<QString> entry(const QString &target)
{
    if (target.startsWith(NamePrefix, Qt::CaseInsensitive))
        return target.size() > NamePrefix.size() ? std::optional(target) : std::nullopt;
    if (target.contains(u'/')) {
        const auto [address, length] = QHostAddress::parseSubnet(target);
        if (address.isNull() || length < 0)
            return std::nullopt;
        return address.toString() + u'/' + QString::number(length);
    }
    const QHostAddress address(target);
    if (!address.isNull())
        return address.toString();
    // A bare word is a name; one that looks like an address is not.
    if (target.contains(u'.') || target.contains(u':') || target.contains(u'#') ||
        target.contains(u' '))
        return std::nullopt;
    return NamePrefix + target;
}

QByteArray withBan(QByteArrayView text, const QString &entry, std::optional<qint64> untilSecs,
                   const QString &comment, qint64 nowSecs)
{
    int removed = 0;
    QByteArray out = withoutBan(text, {}, nowSecs, &removed);
    if (!out.isEmpty() && !out.endsWith('\n'))
        out += '\n';
    QString line = entry;
    if (untilSecs)
        line += QStringLiteral(" until=") + untilText(*untilSecs);
    if (!comment.isEmpty())
        line += QStringLiteral("  # ") + QString(comment).replace(u'\n', u' ').replace(u'\r', u' ');
    return out + line.toUtf8() + '\n';
}

QByteArray withoutBan(QByteArrayView text, const QString &entry, qint64 nowSecs, int *removed)
{
    QByteArray out;
    out.reserve(text.size());
    *removed = 0;
    bool first = true;
    forEachLine(text, [&](QByteArrayView raw, const Line &line) {
        const bool gone =
            !line.entry.isEmpty() && !line.badUntil &&
            (expired(line, nowSecs) || (!entry.isEmpty() && sameEntry(line.entry, entry)));
        if (gone) {
            if (!entry.isEmpty() && sameEntry(line.entry, entry) && !expired(line, nowSecs))
                ++*removed;
            return;
        }
        if (!first)
            out += '\n';
        out += raw;
        first = false;
    });
    if (text.endsWith('\n') && !out.isEmpty() && !out.endsWith('\n'))
        out += '\n';
    return out;
}

QStringList inForce(QByteArrayView text, qint64 nowSecs)
{
    QStringList bans;
    forEachLine(text, [&](QByteArrayView, const Line &line) {
        if (line.entry.isEmpty() || line.badUntil || expired(line, nowSecs))
            return;
        bans << (line.untilSecs
                     ? line.entry + QStringLiteral(" until ") + untilText(*line.untilSecs)
                     : line.entry);
    });
    return bans;
}

bool writeAtomically(const QString &path, const QByteArray &text, QString *why, Fault fault)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        *why = QStringLiteral("cannot make a temporary file beside it: %1")
                   .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const auto fail = [&](const char *what) {
        *why = QStringLiteral("%1: %2").arg(QLatin1StringView(what),
                                            QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        ::unlink(temporary.constData());
        return false;
    };
    struct stat old;
    if (::stat(target.constData(), &old) == 0 && ::fchmod(fd, old.st_mode & 07777) != 0)
        return fail("cannot keep its mode");
    qsizetype written = 0;
    const qsizetype stopAt = fault == Fault::CrashMidWrite ? text.size() / 2 : text.size();
    while (written < stopAt) {
        const ssize_t n = ::write(fd, text.constData() + written, std::size_t(stopAt - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail("cannot write");
        written += n;
    }
    if (fault == Fault::CrashMidWrite)
        std::abort();
    if (::fsync(fd) != 0)
        return fail("cannot flush it to the disk");
    if (::close(fd) != 0) {
        *why = QStringLiteral("cannot close: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::unlink(temporary.constData());
        return false;
    }
    if (::rename(temporary.constData(), target.constData()) != 0) {
        *why =
            QStringLiteral("cannot rename: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::unlink(temporary.constData());
        return false;
    }
    // The rename itself is on the disk once the folder is.
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    if (const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

std::optional<QByteArray> readText(const QString &path, QString *why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = file.errorString();
        return std::nullopt;
    }
    // Read whole or not at all: a list cut short would let in whoever its
    // lost end bans.
    const QByteArray text = file.read(MaxFileBytes + 1);
    if (text.size() > MaxFileBytes || file.error() != QFileDevice::NoError) {
        *why = text.size() > MaxFileBytes
                   ? QStringLiteral("larger than %1 MiB").arg(MaxFileBytes / (1024 * 1024))
                   : file.errorString();
        return std::nullopt;
    }
    return text;
}

std::optional<BanList> read(const QString &path, const LookAlike &lookAlike,
                            const std::function<void(const QString &)> &log, QString *why,
                            std::optional<qint64> *nextExpirySecs)
{
    const std::optional<QByteArray> text = readText(path, why);
    if (!text)
        return std::nullopt;
    QList<Problem> problems;
    BanList bans =
        parse(*text, lookAlike, &problems, QDateTime::currentSecsSinceEpoch(), nextExpirySecs);
    for (const Problem &problem : problems)
        log(QStringLiteral("%1 line %2 skipped: %3").arg(path).arg(problem.line).arg(problem.why));
    log(QStringLiteral("%1: %2 ban(s)").arg(path).arg(bans.size()));
    return bans;
}

} // namespace BanFile
