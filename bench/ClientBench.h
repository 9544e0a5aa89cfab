// SPDX-License-Identifier: MIT
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

struct HostileResult
{
    double clickP99Ms = 0; // a click posted to its packet on the wire
    double rssMiB = 0;     // the most resident memory seen under the flood
    double idleRssMiB = 0; // connected, before the flood
};

struct StepResult
{
    double p50Ms = 0;
    double p99Ms = 0;
    double readoutP99Ms = 0;
    int steps = 0;
};

// Benchmarks of the client: idle cost and start-up (in child processes, so
// that each is measured on its own), step latency through a real server, the
// cost of applying one received Action packet, and what a hostile burst costs.
namespace ClientBench {

// Child process entry point: "bare" (one label), "client" (the main window,
// connected) or "startup" (the main window, not connected). It prints its
// figures on stdout.
int idleChild(const QString &mode, std::uint16_t port, double seconds);

std::optional<IdleResult> idle(const QString &self, bool bare, std::uint16_t port, double seconds);
// Medians of process start to first paint: (main window, bare window).
std::optional<std::pair<double, double>> startupMs(const QString &self, int runs);
std::optional<StepResult> stepLatency(std::uint16_t port, int steps);
double actionApplyNs(int iterations);
// A window gets `lines` chat lines and a NewUser packet in one burst: the
// milliseconds from the last byte sent to its presence answer arriving.
std::optional<double> chatBurstAnswerMs(int lines);
// Milliseconds the window's thread spends on one read of `bytes` of repeated
// "ClientNumber".
double numberFloodMs(qsizetype bytes);

// A window connected to a server that sends `mbPerSecond` MB a second of
// two-byte packets ("[" 0x00) for `seconds`, while clicks come every 50 ms.
std::optional<HostileResult> underTinyPackets(double mbPerSecond, double seconds);

} // namespace ClientBench
