// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>
#include <array>
#include <cstddef>

// What a stage has done since it started, for its operator's figures. Only
// ever grows: a monitor takes the rate of it.
struct StageCounters
{
    // Why someone or something was turned away.
    enum class Refusal
    {
        Name,          // a join under a name the rules refuse
        Full,          // a join when every place is taken
        Shape,         // a packet or request not in the shape the stage takes
        Budget,        // more connections, or more requests, than a group may have
        WaitingPool,   // no waiting place left, given way, or no join in time
        Ban,           // a banned address or name
        CrossSite,     // a page of another site opening the stage's WebSocket
        Flood,         // connects over the group's connect budget, closed unseen
        CrossProtocol, // HTTP or TLS on the stage's plain port: a browser or a lost client
        Closed,        // a join while the operator has closed the stage
    };
    static constexpr std::size_t RefusalCount = std::size_t(Refusal::Closed) + 1;

    void refused(Refusal why) { ++refusals[std::size_t(why)]; }

    qint64 joins = 0;
    qint64 leaves = 0;
    qint64 relayedPackets = 0; // participants' packets relayed, each once
    qint64 relayedBytes = 0;
    qint64 sentBytes = 0; // everything written to participants
    std::array<qint64, RefusalCount> refusals{};
};
