// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

// A budget: `rate` tokens a second, at most `burst` saved up. Times are
// nanoseconds on any monotonic clock.
class TokenBucket
{
public:
    // A rate of 0 or less never runs out.
    TokenBucket(double rate, double burst, qint64 nowNs);

    // Spends `amount` tokens if there are that many. An amount larger than
    // the burst is let through once the bucket is full, and the rest is
    // owed: what comes later waits until it is paid.
    bool tryTake(qint64 nowNs, double amount = 1);
    // How long until `amount` tokens can be taken; 0 when they can now.
    qint64 nsUntil(qint64 nowNs, double amount = 1) const;

private:
    double available(qint64 nowNs) const;

    double m_rate;
    double m_burst;
    double m_tokens;
    qint64 m_lastNs;
};
