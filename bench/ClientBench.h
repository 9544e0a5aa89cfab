#pragma once

#include <QString>
#include <cstdint>
#include <optional>

struct IdleResult
{
    double startupMs = 0; // process start to the window first shown
    double cpuPercent = 0;
    double peakRssMiB = 0;
};

struct StepResult
{
    double p50Ms = 0;
    double p99Ms = 0;
    double readoutP99Ms = 0;
    int steps = 0;
};

// Benchmarks of the client: idle cost and start-up (in child processes, so
// that each is measured on its own), step latency through a real server, and
// the cost of applying one received Action packet.
class ClientBench
{
public:
    // Child process entry point: "bare" (one label), "client" (the main window,
    // connected) or "startup" (the main window, not connected). It prints its
    // figures on stdout.
    static int idleChild(const QString &mode, std::uint16_t port, double seconds);

    static std::optional<IdleResult> idle(const QString &self, bool bare, std::uint16_t port,
                                          double seconds);
    // Medians of process start to first paint: (main window, bare window).
    static std::optional<std::pair<double, double>> startupMs(const QString &self, int runs);
    static std::optional<StepResult> stepLatency(std::uint16_t port, int steps);
    static double actionApplyNs(int iterations);
};
