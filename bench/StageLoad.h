// SPDX-License-Identifier: MIT
#pragma once

#include "RawClient.h"

#include <cstdint>
#include <memory>
#include <vector>

// The clients of some stages, driven from one process with one epoll set:
// ten a stage, each stepping at a steady rate at its own phase. What it
// measures is the time from a step leaving its sender to that step reaching
// each client of the stage, the sender included.
class StageLoad
{
public:
    explicit StageLoad(const std::vector<std::uint16_t> &ports, int clientsPerStage = 10);
    ~StageLoad();
    StageLoad(const StageLoad &) = delete;
    StageLoad &operator=(const StageLoad &) = delete;

    // Connects every client and joins it; false when one is refused, fails,
    // or has no number within `timeoutMs`.
    bool join(int timeoutMs);
    // Steps for `seconds`, each client `stepsPerSecond` times a second, then
    // waits half a second for the last steps; the latencies in milliseconds.
    std::vector<float> run(double seconds, double stepsPerSecond);
    int clients() const { return int(m_clients.size()); }

private:
    struct Client
    {
        RawClient socket;
        int number = -1;
    };
    // Reads what client `i` has and times every step of this process in it.
    bool readFrom(std::size_t i, std::vector<float> *latencies);

    int m_epoll = -1;
    std::vector<std::unique_ptr<Client>> m_clients;
    std::vector<std::int64_t> m_sentAt; // by the step's X, which numbers the steps
};
