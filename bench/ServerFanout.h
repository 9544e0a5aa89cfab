// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>

struct FanoutResult
{
    double p50Us = 0;
    double p99Us = 0;
    std::int64_t samples = 0;
    double deliveredPerSecond = 0;
    double attacksPerSecond = 0; // connects or joins an attacker made
};

struct NewcomerResult
{
    double p50Ms = 0; // from its join to a step of everyone on the stage
    double maxMs = 0;
    double packetsPerRead = 0; // median over the newcomers, until then
};

// Raw clients against a running server.
namespace ServerFanout {

// Relay latency at a steady step rate, then delivered packets per second with
// everyone sending flat out.
std::optional<FanoutResult> run(std::uint16_t port, int clients, int stepsPerSecond,
                                double pacedSeconds, double fullSpeedSeconds);

// Relay latency for `clients` stepping at a steady rate while one more client
// sends as fast as the server takes it (or, for a baseline, stays quiet).
std::optional<FanoutResult> flooded(std::uint16_t port, int clients, int stepsPerSecond,
                                    double seconds, bool flood = true);

enum class Attack
{
    None,
    JoinChurn,          // one address group connects, joins and closes as fast as it can
    ConnectFlood,       // one address group connects and closes as fast as it can
    SpreadConnectFlood, // connects from a new address each time, closed at once
    PingFlood,          // a WebSocket on the page's port sends pings and never reads
    TricklingUpgrades   // 32 upgrades from 4 groups whose header never ends, a trickle each
};

// Relay latency for `clients` stepping at a steady rate while an attacker
// works from another loopback address; nothing when a client was cut.
// `webPort` is the page's, for the attacks on it.
std::optional<FanoutResult> underAttack(std::uint16_t port, int clients, int stepsPerSecond,
                                        double seconds, Attack attack, std::uint16_t webPort = 0);

// The share of `newcomers` (each from a /24 of its own, joining 0.1 to 0.3 s
// after it connected) that got a place while `groups` addresses, of one /24
// or `spread` each over a /24 of its own, each keep two silent connections
// and reconnect whenever one is closed, as fast as their budgets let them.
double newcomersUnderChurn(std::uint16_t port, int groups, int newcomers, bool spread = false);

// `rounds` newcomers, one after another, join a stage where `stayers` step
// `stepsPerSecond` in all and say a line with every tenth step: how long
// until each has seen a step of everyone there, and how many packets came
// in one read meanwhile.
std::optional<NewcomerResult> newcomers(std::uint16_t port, int stayers, int stepsPerSecond,
                                        int rounds);

} // namespace ServerFanout
