// SPDX-License-Identifier: MIT
#include "net/ServerAddress.h"

#include "net/Digits.h"

namespace {

std::optional<quint16> port(QStringView text)
{
    const auto value = Digits::value(text);
    if (!value || *value > 65535)
        return std::nullopt;
    return quint16(*value);
}

} // namespace

namespace {

std::optional<HostAndPort> parseHost(QStringView address, std::optional<quint16> defaultPort);

} // namespace

std::optional<HostAndPort> ServerAddress::parse(const QString &text,
                                                std::optional<quint16> defaultPort,
                                                quint16 defaultTlsPort)
{
    QStringView address = QStringView(text).trimmed();
    static constexpr QStringView Tls = u"tls://";
    if (!address.startsWith(Tls, Qt::CaseInsensitive))
        return parseHost(address, defaultPort);
    auto server = parseHost(address.mid(Tls.size()),
                            defaultPort ? std::optional(defaultTlsPort) : std::nullopt);
    if (server)
        server->tls = true;
    return server;
}

namespace {

std::optional<HostAndPort> parseHost(QStringView address, std::optional<quint16> defaultPort)
{
    if (address.startsWith(u'[')) { // [v6] or [v6]:port
        const qsizetype close = address.indexOf(u']');
        if (close < 2)
            return std::nullopt;
        const QStringView host = address.mid(1, close - 1);
        const QStringView rest = address.mid(close + 1);
        if (rest.isEmpty())
            return defaultPort ? std::optional(HostAndPort{host.toString(), *defaultPort})
                               : std::nullopt;
        const auto p = rest.startsWith(u':') ? port(rest.mid(1)) : std::nullopt;
        if (!p)
            return std::nullopt;
        return HostAndPort{host.toString(), *p};
    }
    const qsizetype colon = address.indexOf(u':');
    if (colon < 0)
        return address.isEmpty() || !defaultPort
                   ? std::nullopt
                   : std::optional(HostAndPort{address.toString(), *defaultPort});
    if (address.indexOf(u':', colon + 1) >= 0) { // more than one: a bare IPv6 address
        return defaultPort ? std::optional(HostAndPort{address.toString(), *defaultPort})
                           : std::nullopt;
    }
    const auto p = port(address.mid(colon + 1));
    if (colon == 0 || !p)
        return std::nullopt;
    return HostAndPort{address.left(colon).toString(), *p};
}

} // namespace
