// SPDX-License-Identifier: MIT
#include "server/rules/AddressGroup.h"

#include <algorithm>

AddressGroup::AddressGroup(const ServerSettings &s, qint64 nowNs)
    : packets(s.rate, s.burst, nowNs), bytes(s.byteRate, s.byteBurst, nowNs),
      joins(s.joinRate, s.joinBurst, nowNs), connects(s.connectRate, s.connectBurst, nowNs),
      requests(RequestRate, RequestBurst, nowNs)
{}

bool AddressGroup::spendNow(qint64 nowNs, int count, qint64 size)
{
    if (packets.nsUntil(nowNs, count) > 0 || bytes.nsUntil(nowNs, double(size)) > 0)
        return false;
    packets.tryTake(nowNs, count);
    bytes.tryTake(nowNs, double(size));
    return true;
}

qint64 AddressGroup::spend(qint64 nowNs, qsizetype size, bool join)
{
    const double amount = double(size);
    qint64 wait = std::max(packets.nsUntil(nowNs), bytes.nsUntil(nowNs, amount));
    if (join)
        wait = std::max(wait, joins.nsUntil(nowNs));
    if (wait > 0)
        return wait;
    packets.tryTake(nowNs);
    bytes.tryTake(nowNs, amount);
    if (join)
        joins.tryTake(nowNs);
    return 0;
}
