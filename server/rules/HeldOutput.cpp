// SPDX-License-Identifier: MIT
#include "server/rules/HeldOutput.h"

void HeldOutput::add(const QByteArray &packet)
{
    auto &queue = packet.startsWith("Action") ? m_actions : m_others;
    queue.push_back({m_next++, packet});
    m_bytes += packet.size();
    while (m_bytes > MaxBytes) {
        auto &oldest = m_actions.empty() ? m_others : m_actions;
        m_bytes -= oldest.front().bytes.size();
        oldest.pop_front();
    }
}

QByteArray HeldOutput::take()
{
    QByteArray out;
    out.reserve(m_bytes);
    auto a = m_actions.begin();
    auto o = m_others.begin();
    while (a != m_actions.end() || o != m_others.end()) {
        const bool action = o == m_others.end() || (a != m_actions.end() && a->order < o->order);
        out += action ? (a++)->bytes : (o++)->bytes;
    }
    m_actions.clear();
    m_others.clear();
    m_bytes = 0;
    return out;
}
