// SPDX-License-Identifier: MIT
#include "server/rules/IpAddress.h"

#include <algorithm>

namespace {

constexpr IpAddress::Bytes MappedPrefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

} // namespace

IpAddress IpAddress::fromV4(quint32 v4)
{
    Bytes bytes = MappedPrefix;
    for (int i = 0; i < 4; ++i)
        bytes[12 + i] = quint8(v4 >> (24 - 8 * i));
    return IpAddress(bytes);
}

bool IpAddress::isV4() const
{
    return std::equal(m_bytes.begin(), m_bytes.begin() + 12, MappedPrefix.begin());
}

quint32 IpAddress::v4() const
{
    return quint32(m_bytes[12]) << 24 | quint32(m_bytes[13]) << 16 | quint32(m_bytes[14]) << 8 |
           m_bytes[15];
}

bool IpAddress::isLocalHost() const
{
    if (isV4())
        return v4() == 0x7F000001;
    Bytes loopback{};
    loopback[15] = 1;
    return m_bytes == loopback;
}

bool IpAddress::isLinkLocal() const
{
    return !isV4() && m_bytes[0] == 0xFE && (m_bytes[1] & 0xC0) == 0x80;
}

IpAddress IpAddress::prefix(int bits) const
{
    Bytes out{};
    bits = std::clamp(bits, 0, 128);
    for (int i = 0; i < 16 && bits > 0; ++i, bits -= 8)
        out[i] = bits >= 8 ? m_bytes[i] : quint8(m_bytes[i] & (0xFF << (8 - bits)));
    return IpAddress(out);
}

std::size_t std::hash<IpAddress>::operator()(const IpAddress &address) const noexcept
{
    // FNV-1a over the sixteen bytes.
    std::size_t h = 1469598103934665603ull;
    for (const quint8 b : address.bytes())
        h = (h ^ b) * 1099511628211ull;
    return h;
}
