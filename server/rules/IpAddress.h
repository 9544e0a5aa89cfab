// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>
#include <array>
#include <cstddef>
#include <functional>

// A peer's address as the rules see it, without a socket library: sixteen
// bytes, an IPv4 address in its IPv4-mapped IPv6 form, so that a dual-stack
// listener and an IPv4 one see the same peer alike.
class IpAddress
{
public:
    using Bytes = std::array<quint8, 16>;

    IpAddress() = default;
    explicit IpAddress(const Bytes &bytes) : m_bytes(bytes) {}
    static IpAddress fromV4(quint32 v4);

    const Bytes &bytes() const { return m_bytes; }
    bool isV4() const;
    quint32 v4() const;
    // 127.0.0.1 or ::1: the machine's own users.
    bool isLocalHost() const;
    bool isLinkLocal() const;
    // The first `bits` bits, the rest zero (IPv4 prefixes count from bit 96).
    IpAddress prefix(int bits) const;

    friend bool operator==(const IpAddress &, const IpAddress &) = default;

private:
    Bytes m_bytes{};
};

template <> struct std::hash<IpAddress>
{
    std::size_t operator()(const IpAddress &address) const noexcept;
};
