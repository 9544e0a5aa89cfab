// SPDX-License-Identifier: MIT
#include "net/PacketFramer.h"

void PacketFramer::append(QByteArrayView bytes)
{
    if (m_overflowed)
        return;
    if (m_start == m_buffer.size()) {
        m_buffer.clear();
        m_start = 0;
    }
    m_buffer.append(bytes);
}

std::optional<QByteArray> PacketFramer::next()
{
    if (m_overflowed)
        return std::nullopt;
    const qsizetype end = m_buffer.indexOf('\0', m_start + m_scanned);
    const qsizetype length = end < 0 ? buffered() : end - m_start;
    if (length > m_maxPacket) {
        m_overflowed = true;
        m_buffer.clear();
        m_start = m_scanned = 0;
        return std::nullopt;
    }
    if (end < 0) {
        m_scanned = length;
        return std::nullopt;
    }
    QByteArray packet = m_buffer.mid(m_start, length);
    m_start = end + 1;
    m_scanned = 0;
    if (m_start == m_buffer.size()) {
        m_buffer.clear();
        m_start = 0;
    } else if (m_start > 65536) {
        m_buffer.remove(0, m_start);
        m_start = 0;
    }
    return packet;
}
