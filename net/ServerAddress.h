// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <optional>

struct HostAndPort
{
    QString host;
    quint16 port = 0;
};

// What the user types as the server: "host", "host:port", "[v6]:port" or a
// bare IPv6 address. Without a port, `defaultPort`.
namespace ServerAddress {

// Empty when the text names no host or its port is not a number from 1 to 65535.
std::optional<HostAndPort> parse(const QString &text, quint16 defaultPort);

} // namespace ServerAddress
