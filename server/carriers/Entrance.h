// SPDX-License-Identifier: MIT
#pragma once

#include "server/carriers/Link.h"
#include "server/rules/StageFigures.h"

#include <QHostAddress>

// What every door to the stage hands its connections to: the stage's TCP
// and TLS door and the page's WebSocket door alike.
class Entrance
{
public:
    virtual ~Entrance() = default;
    // Before a socket exists: whether a connection from `peer` may come in
    // at all. False for a flood or a ban, to be closed unseen.
    virtual bool admit(const QHostAddress &peer) = 0;
    // Takes a new connection in, whatever carries it, under the same rules
    // as every other; the entrance owns the link from now on.
    virtual void adopt(Link *link, StageFigures::Carrier carrier) = 0;
};
