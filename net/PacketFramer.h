// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <optional>

// Cuts an inbound byte stream into packets at their 0x00 terminators. A
// packet longer than the packet bound is not kept: it is skipped to its
// terminator and reported as overlong, so that its sender can be told. A
// run past the stream bound without any terminator is no client's packet:
// it marks the stream as overflowed, and the owner drops the connection.
class PacketFramer
{
public:
    static constexpr qsizetype DefaultMaxRun = 64 * 1024;

    struct Frame
    {
        QByteArray packet;      // without its terminator
        qsizetype overlong = 0; // the length of a skipped packet, 0 for a kept one

        qsizetype size() const { return overlong > 0 ? overlong : packet.size(); }
    };

    explicit PacketFramer(qsizetype maxPacket = 4096, qsizetype maxRun = DefaultMaxRun)
        : m_maxPacket(maxPacket), m_maxRun(maxRun)
    {}

    void append(QByteArrayView bytes);
    // The next whole packet, or the next overlong one, if one has come.
    std::optional<Frame> next();
    bool overflowed() const { return m_overflowed; }
    qsizetype buffered() const { return m_buffer.size() - m_start; }

private:
    void overflow();

    QByteArray m_buffer;
    qsizetype m_start = 0;
    qsizetype m_scanned = 0; // bytes after m_start known to hold no terminator
    qsizetype m_maxPacket;
    qsizetype m_maxRun;
    qsizetype m_skipping = 0; // bytes of an overlong packet skipped so far, its end not yet seen
    qsizetype m_skipped = 0;  // an overlong packet whose end has come, not yet reported
    bool m_overflowed = false;
};
