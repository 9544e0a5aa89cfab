// SPDX-License-Identifier: MIT
#include "server/RelayRules.h"

#include <algorithm>

namespace RelayRules {

namespace {

constexpr qsizetype MaxNoticeName = 64;

bool isLineBreak(char c)
{
    return c == '\r' || c == '\n';
}

// The IPv4 address behind an IPv4-mapped IPv6 one, so that a dual-stack
// listener counts a peer the same way as an IPv4 listener would.
QHostAddress plain(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

} // namespace

bool isOwnPacket(QByteArrayView body, int number, QByteArrayView name)
{
    if (body.startsWith("Action"))
        return body.size() > 6 && number >= 0 && number <= 9 && body[6] == char('0' + number);
    const qsizetype prefix = 1 + name.size() + 4;
    if (body.size() < prefix + 2 || body[0] != '[' || body.sliced(1, name.size()) != name ||
        body.sliced(1 + name.size(), 4) != QByteArrayView("] - ") || !body.endsWith("\r\n"))
        return false;
    const QByteArrayView text = body.sliced(prefix, body.size() - prefix - 2);
    return std::none_of(text.begin(), text.end(), isLineBreak);
}

bool isReservedName(QByteArrayView name)
{
    const qsizetype bracket = name.indexOf(']');
    const QByteArray head = name.first(bracket < 0 ? name.size() : bracket).toByteArray();
    return head.trimmed().compare(NoticeSender, Qt::CaseInsensitive) == 0;
}

QByteArray notice(QByteArrayView text)
{
    QByteArray line;
    line.reserve(text.size() + 16);
    line += '[';
    line += NoticeSender;
    line += "] - ";
    line += text;
    line += "\r\n";
    line += '\0';
    return line;
}

QByteArray noticeName(QByteArrayView name)
{
    if (name.isEmpty())
        return QByteArrayLiteral("Someone without a name");
    QByteArray out = name.first(std::min(name.size(), MaxNoticeName)).toByteArray();
    for (char &c : out) {
        const auto b = static_cast<unsigned char>(c);
        // C0, DEL and the five bytes Windows-1252 leaves undefined.
        if (b < 0x20 || b == 0x7F || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D)
            c = '?';
    }
    if (name.size() > MaxNoticeName)
        out += "...";
    return out;
}

QString addressGroup(const QHostAddress &address)
{
    const QHostAddress a = plain(address);
    if (a.protocol() == QAbstractSocket::IPv4Protocol)
        return a.toString();
    const Q_IPV6ADDR v6 = a.toIPv6Address();
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(v6.c), 8).toHex()) +
           QStringLiteral("::/64");
}

bool isExemptAddress(const QHostAddress &address)
{
    const QHostAddress a = plain(address);
    return a == QHostAddress(QHostAddress::LocalHost) ||
           a == QHostAddress(QHostAddress::LocalHostIPv6);
}

} // namespace RelayRules
