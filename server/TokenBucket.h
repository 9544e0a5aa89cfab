// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

// A packet budget: `rate` tokens a second, at most `burst` saved up. Times are
// nanoseconds on any monotonic clock.
class TokenBucket
{
public:
    // A rate of 0 or less never runs out.
    TokenBucket(double rate, double burst, qint64 nowNs);

    // Spends one token if there is one.
    bool tryTake(qint64 nowNs);
    // How long until one token is there again; 0 when one is there now.
    qint64 nsUntilNext(qint64 nowNs) const;

private:
    double available(qint64 nowNs) const;

    double m_rate;
    double m_burst;
    double m_tokens;
    qint64 m_lastNs;
};
