// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <optional>

// Cuts an inbound byte stream into packets at their 0x00 terminators. Input
// that runs past the bound without a terminator marks the stream as
// overflowed; the owner then drops the connection.
class PacketFramer
{
public:
    explicit PacketFramer(qsizetype maxPacket = 4096) : m_maxPacket(maxPacket) {}

    void append(QByteArrayView bytes);
    // The next complete packet without its terminator, if one is buffered. A
    // packet longer than the bound marks the stream as overflowed instead.
    std::optional<QByteArray> next();
    bool overflowed() const { return m_overflowed; }
    qsizetype buffered() const { return m_buffer.size() - m_start; }

private:
    QByteArray m_buffer;
    qsizetype m_start = 0;
    qsizetype m_scanned = 0; // bytes after m_start known to hold no terminator
    qsizetype m_maxPacket;
    bool m_overflowed = false;
};
