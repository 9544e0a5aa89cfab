// SPDX-License-Identifier: MIT
#include "server/rules/NoticeBatch.h"

std::optional<QByteArray> NoticeBatch::add(const QByteArray &shownName, qint64 nowMs)
{
    if (!m_windowOpen || nowMs - m_windowStartMs >= WindowMs) {
        if (m_waiting == 0) {
            m_windowOpen = true;
            m_windowStartMs = nowMs;
            return shownName + ' ' + m_what;
        }
    }
    if (m_waiting++ == 0)
        m_firstWaiting = shownName;
    return std::nullopt;
}

std::optional<QByteArray> NoticeBatch::flush()
{
    if (m_waiting == 0)
        return std::nullopt;
    const QByteArray line = m_waiting == 1 ? m_firstWaiting + ' ' + m_what
                                           : QByteArray::number(m_waiting) + " people " + m_what;
    m_waiting = 0;
    m_firstWaiting.clear();
    m_windowOpen = false;
    return line;
}
