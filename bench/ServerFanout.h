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
    JoinChurn,   // one address group connects, joins and closes as fast as it can
    ConnectFlood // one address group connects and closes as fast as it can
};

// Relay latency for `clients` stepping at a steady rate while an attacker
// works from another loopback address; nothing when a client was cut.
std::optional<FanoutResult> underAttack(std::uint16_t port, int clients, int stepsPerSecond,
                                        double seconds, Attack attack);

} // namespace ServerFanout
