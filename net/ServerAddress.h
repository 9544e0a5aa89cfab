// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <optional>

struct HostAndPort
{
    QString host;
    quint16 port = 0;
    bool tls = false;
};

// A server's address as people type it, for the client and for the server's
// own options alike: "host", "host:port", "[v6]:port" or a bare IPv6
// address, each possibly after "tls://" for the stage inside TLS. A port is
// a number from 0 to 65535 (0: any free one, to listen on).
namespace ServerAddress {

inline constexpr quint16 DefaultTlsPort = 2581;

// Without a port, `defaultPort`, or `defaultTlsPort` after "tls://"; with
// no default, a port is required (and a bare IPv6 address cannot have one).
// Empty when the text names no host or its port is not a port number.
std::optional<HostAndPort> parse(const QString &text, std::optional<quint16> defaultPort,
                                 quint16 defaultTlsPort = DefaultTlsPort);

} // namespace ServerAddress
