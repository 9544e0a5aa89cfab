#pragma once

#include <cstdint>
#include <optional>

struct FanoutResult
{
    double p50Us = 0;
    double p99Us = 0;
    std::int64_t samples = 0;
    double deliveredPerSecond = 0;
};

// Ten raw clients against a running server: relay latency at a steady step
// rate, then delivered packets per second with everyone sending flat out.
class ServerFanout
{
public:
    static std::optional<FanoutResult> run(std::uint16_t port, int clients, int stepsPerSecond,
                                           double pacedSeconds, double fullSpeedSeconds);
};
