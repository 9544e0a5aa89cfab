// SPDX-License-Identifier: MIT
#include "server/rules/HeldOutput.h"

#include "net/ActionView.h"

void HeldOutput::add(const QByteArray &packet)
{
    const std::optional<int> sender = ActionView::senderOf(packet);
    if (!sender) {
        m_others.push_back({m_next++, packet});
    } else {
        const bool move = ActionView::isStepPacket(packet);
        std::erase_if(m_actions, [&](const Entry &held) {
            const bool superseded = held.sender == *sender && (move || !held.move);
            if (superseded)
                m_bytes -= held.bytes.size();
            return superseded;
        });
        m_actions.push_back({m_next++, packet, *sender, move});
    }
    m_bytes += packet.size();
    while (m_bytes > MaxBytes) {
        auto drop = [this](auto &queue) {
            m_bytes -= queue.front().bytes.size();
            queue.pop_front();
        };
        if (!m_others.empty())
            drop(m_others);
        else
            drop(m_actions);
    }
}

QByteArray HeldOutput::takeFirst()
{
    if (isEmpty())
        return {};
    const bool action = m_others.empty() ||
                        (!m_actions.empty() && m_actions.front().order < m_others.front().order);
    QByteArray out;
    if (action) {
        out = std::move(m_actions.front().bytes);
        m_actions.pop_front();
    } else {
        out = std::move(m_others.front().bytes);
        m_others.pop_front();
    }
    m_bytes -= out.size();
    return out;
}
