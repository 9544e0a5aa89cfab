// SPDX-License-Identifier: MIT
#include "net/PacketFramer.h"

void PacketFramer::append(QByteArrayView bytes)
{
    if (m_overflowed)
        return;
    if (m_skipping > 0) {
        // Nothing of an overlong packet is kept, however long it runs.
        const qsizetype end = bytes.indexOf('\0');
        m_skipping += end < 0 ? bytes.size() : end;
        if (m_skipping > m_maxRun) {
            overflow();
            return;
        }
        if (end < 0)
            return;
        m_skipped = std::exchange(m_skipping, 0);
        bytes = bytes.sliced(end + 1);
    }
    if (m_start == m_buffer.size()) {
        m_buffer.clear();
        m_start = 0;
    }
    m_buffer.append(bytes);
}

std::optional<PacketFramer::Frame> PacketFramer::next()
{
    if (m_overflowed)
        return std::nullopt;
    if (m_skipped > 0)
        return Frame{{}, std::exchange(m_skipped, 0)};
    if (m_skipping > 0)
        return std::nullopt;
    const qsizetype end = m_buffer.indexOf('\0', m_start + m_scanned);
    const qsizetype length = end < 0 ? buffered() : end - m_start;
    if (length > m_maxRun) {
        overflow();
        return std::nullopt;
    }
    if (end < 0 && length > m_maxPacket) {
        m_skipping = length;
        m_buffer.clear();
        m_start = m_scanned = 0;
        return std::nullopt;
    }
    if (end < 0) {
        m_scanned = length;
        return std::nullopt;
    }
    Frame frame;
    if (length > m_maxPacket)
        frame.overlong = length;
    else
        frame.packet = m_buffer.mid(m_start, length);
    m_start = end + 1;
    m_scanned = 0;
    if (m_start == m_buffer.size()) {
        m_buffer.clear();
        m_start = 0;
    } else if (m_start > 65536) {
        m_buffer.remove(0, m_start);
        m_start = 0;
    }
    return frame;
}

void PacketFramer::overflow()
{
    m_overflowed = true;
    m_buffer.clear();
    m_start = m_scanned = m_skipping = 0;
}
