// SPDX-License-Identifier: MIT
#pragma once

#include "server/rules/ServerSettings.h"
#include "server/rules/TokenBucket.h"

#include <QtGlobal>

// One address group's budgets and counts. They belong to the group, not to a
// connection, so that reconnecting refills nothing.
class AddressGroup
{
public:
    // HTTP requests to the page a second, and at once.
    static constexpr double RequestRate = 20;
    static constexpr double RequestBurst = 100;

    AddressGroup(const ServerSettings &settings, qint64 nowNs);

    // Pays for a packet of `bytes` bytes (a join pays a join too) and
    // returns 0, or returns how many nanoseconds it must wait and pays
    // nothing.
    qint64 spend(qint64 nowNs, qsizetype bytes, bool join);
    // Pays `packets` packets and `bytes` bytes at once if the budgets hold
    // that much; pays nothing and says false if not. For traffic that
    // cannot wait, such as the answers to a peer's pings.
    bool spendNow(qint64 nowNs, int packets, qint64 bytes);
    // Whether it holds a connection of any kind.
    bool isOpen() const { return connections > 0 || pageConnections > 0; }

    TokenBucket packets;
    TokenBucket bytes;
    TokenBucket joins;
    TokenBucket connects;
    TokenBucket requests;
    int connections = 0;     // participants, on a stage port or the page's WebSocket
    int unjoined = 0;        // of those, the ones that have not joined
    int pageConnections = 0; // HTTP connections to the page
    int refused = 0;         // connections refused since the last summary
    qint64 closedMs = 0;     // when the last connection closed, or the group was made
    qint64 handshakeFailureLoggedMs = -1;
};
