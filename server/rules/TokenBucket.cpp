// SPDX-License-Identifier: MIT
#include "server/rules/TokenBucket.h"

#include <algorithm>
#include <cmath>

TokenBucket::TokenBucket(double rate, double burst, qint64 nowNs)
    : m_rate(rate), m_burst(std::max(1.0, burst)), m_tokens(m_burst), m_lastNs(nowNs)
{}

double TokenBucket::available(qint64 nowNs) const
{
    const double elapsed = double(std::max<qint64>(0, nowNs - m_lastNs)) / 1e9;
    return std::min(m_burst, m_tokens + elapsed * m_rate);
}

bool TokenBucket::tryTake(qint64 nowNs, double amount)
{
    if (m_rate <= 0)
        return true;
    const double tokens = available(nowNs);
    if (tokens < std::min(amount, m_burst))
        return false;
    m_tokens = tokens - amount;
    m_lastNs = std::max(nowNs, m_lastNs);
    return true;
}

qint64 TokenBucket::nsUntil(qint64 nowNs, double amount) const
{
    if (m_rate <= 0)
        return 0;
    const double missing = std::min(amount, m_burst) - available(nowNs);
    return missing <= 0 ? 0 : qint64(std::ceil(missing / m_rate * 1e9));
}
