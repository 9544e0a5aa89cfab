// SPDX-License-Identifier: MIT
#include "server/stage/Farewells.h"

#include "server/carriers/Link.h"

Farewells::Farewells(std::function<qint64()> nowMs) : m_nowMs(std::move(nowMs))
{
    m_sweep.setInterval(500);
    QObject::connect(&m_sweep, &QTimer::timeout, &m_sweep, [this] { sweep(); });
}

void Farewells::closeAfter(Link *link, const QByteArray &farewell)
{
    while (!m_waiting.empty() && !m_waiting.front().first)
        m_waiting.pop_front();
    if (m_waiting.size() >= Max) {
        // Too many peers that do not take their farewell: no more are written.
        link->abort();
        link->deleteLater();
        return;
    }
    QObject::connect(link, &Link::closed, link, &QObject::deleteLater);
    m_waiting.emplace_back(link, m_nowMs() + TimeoutMs);
    if (!m_sweep.isActive())
        m_sweep.start();
    link->closeAfter(farewell);
}

void Farewells::sweep()
{
    const qint64 now = m_nowMs();
    while (!m_waiting.empty() && (!m_waiting.front().first || m_waiting.front().second <= now)) {
        if (Link *link = m_waiting.front().first) {
            link->abort();
            link->deleteLater();
        }
        m_waiting.pop_front();
    }
    if (m_waiting.empty())
        m_sweep.stop();
}
