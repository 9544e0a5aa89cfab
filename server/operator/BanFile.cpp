// SPDX-License-Identifier: MIT
#include "server/operator/BanFile.h"

#include "net/Cp1252.h"
#include "server/carriers/PeerAddress.h"

#include <QFile>
#include <QHostAddress>

namespace BanFile {

namespace {

constexpr QLatin1StringView NamePrefix("name:");

// IPv4 prefixes count from bit 96 of the sixteen-byte form.
int bitsOf(const QHostAddress &address, int length)
{
    return address.protocol() == QAbstractSocket::IPv4Protocol ? 96 + length : length;
}

} // namespace

BanList parse(QByteArrayView text, const LookAlike &lookAlike, QList<Problem> *problems)
{
    BanList list;
    int number = 0;
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        QString line = QString::fromUtf8(text.sliced(start, end - start));
        start = end + 1;
        ++number;
        if (const qsizetype hash = line.indexOf(u'#'); hash >= 0)
            line.truncate(hash);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const auto problem = [&](const QString &why) {
            if (problems)
                problems->append({number, why});
        };
        if (line.startsWith(NamePrefix, Qt::CaseInsensitive)) {
            const QString look = lookAlike.of(Cp1252::encode(line.mid(NamePrefix.size())));
            if (look.isEmpty())
                problem(QStringLiteral("\"name:\" without a name"));
            else
                list.addName(look);
            continue;
        }
        if (line.contains(u'/')) {
            const auto [address, length] = QHostAddress::parseSubnet(line);
            if (address.isNull() || length < 0)
                problem(QStringLiteral("\"%1\" is not an address prefix").arg(line.left(100)));
            else
                list.addPrefix(PeerAddress::from(address), bitsOf(address, length));
            continue;
        }
        const QHostAddress address(line);
        if (address.isNull()) {
            problem(QStringLiteral("\"%1\" is not an address, a prefix or name:NAME")
                        .arg(line.left(100)));
            continue;
        }
        list.addPrefix(PeerAddress::from(address), 128);
    }
    return list;
}

std::optional<BanList> read(const QString &path, const LookAlike &lookAlike,
                            const std::function<void(const QString &)> &log, QString *why)
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
    QList<Problem> problems;
    BanList bans = parse(text, lookAlike, &problems);
    for (const Problem &problem : problems)
        log(QStringLiteral("%1 line %2 skipped: %3").arg(path).arg(problem.line).arg(problem.why));
    log(QStringLiteral("%1: %2 ban(s)").arg(path).arg(bans.size()));
    return bans;
}

} // namespace BanFile
