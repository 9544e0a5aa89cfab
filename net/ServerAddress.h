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

// What the user types as the server: "host", "host:port", "[v6]:port" or a
// bare IPv6 address, each possibly after "tls://" for the stage inside TLS.
// Without a port, `defaultPort`, or `defaultTlsPort` after "tls://".
namespace ServerAddress {

inline constexpr quint16 DefaultTlsPort = 2581;

// Empty when the text names no host or its port is not a number from 1 to 65535.
std::optional<HostAndPort> parse(const QString &text, quint16 defaultPort,
                                 quint16 defaultTlsPort = DefaultTlsPort);

} // namespace ServerAddress
