// SPDX-License-Identifier: MIT
#include "server/stage/PacedOutput.h"

#include <algorithm>

PacedOutput::PacedOutput()
{
    m_next.setSingleShot(true);
    m_next.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_next, &QTimer::timeout, &m_next, [this] { writeNext(); });
}

void PacedOutput::send(const QByteArray &packet)
{
    if (m_stopped)
        return;
    if (!m_paced) {
        m_write(packet);
        return;
    }
    m_held.add(packet);
    if (!m_alone && m_released + m_held.count() > m_maxPaced)
        writeAll();
}

void PacedOutput::sendAlone(const QByteArray &packet, int quietMs)
{
    send(packet);
    pause(quietMs, MaxPaced);
}

void PacedOutput::sendThenGap(const QByteArray &packet)
{
    send(packet);
    // Held: the release must reach the packet after this one before it
    // writes the rest at once, within its own bound.
    if (m_paced)
        m_maxPaced = std::clamp(int(m_released + m_held.count() + 1), m_maxPaced, MaxPaced);
    pause(GapMs, MaxPacedAfterGap);
}

void PacedOutput::pause(int ms, int maxPaced)
{
    if (m_stopped || m_paced)
        return; // held: the pace keeps it apart from what follows
    m_paced = m_alone = true;
    m_released = 0;
    m_maxPaced = maxPaced;
    m_next.start(ms);
}

void PacedOutput::stop()
{
    m_next.stop();
    m_stopped = true;
}

void PacedOutput::writeNext()
{
    m_alone = false;
    if (m_held.isEmpty()) {
        m_paced = false;
        return;
    }
    if (++m_released > m_maxPaced) {
        writeAll();
        return;
    }
    // The gap counts from the write; a write that ended the client ends it.
    m_write(m_held.takeFirst());
    if (!m_stopped)
        m_next.start(GapMs);
}

void PacedOutput::writeAll()
{
    m_next.stop();
    m_paced = false;
    while (!m_held.isEmpty() && !m_stopped)
        m_write(m_held.takeFirst());
}
