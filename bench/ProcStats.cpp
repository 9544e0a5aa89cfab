// SPDX-License-Identifier: MIT
#include "ProcStats.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace ProcStats {

namespace {

const double Tick = double(::sysconf(_SC_CLK_TCK));

// The start of /proc/PID/NAME; empty when the process is gone.
std::string readProc(pid_t pid, const char *name)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/%s", int(pid), name);
    FILE *file = std::fopen(path, "r");
    if (!file)
        return {};
    char text[4096];
    const size_t n = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    return std::string(text, n);
}

} // namespace

double cpuSeconds(pid_t pid)
{
    const std::string text = readProc(pid, "stat");
    // The command name may hold blanks; the fields after it are counted from its ')'.
    const auto close = text.rfind(')');
    unsigned long user = 0;
    unsigned long system = 0;
    if (close == std::string::npos ||
        std::sscanf(text.c_str() + close + 1,
                    " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user, &system) != 2)
        return 0;
    return double(user + system) / Tick;
}

double pssKiB(pid_t pid)
{
    const std::string text = readProc(pid, "smaps_rollup");
    const auto at = text.find("\nPss:");
    double kib = 0;
    if (at != std::string::npos)
        std::sscanf(text.c_str() + at + 5, " %lf", &kib);
    return kib;
}

Host host()
{
    FILE *file = std::fopen("/proc/stat", "r");
    if (!file)
        return {};
    unsigned long long v[8] = {};
    const int n = std::fscanf(file, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1],
                              &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]);
    std::fclose(file);
    if (n != 8)
        return {};
    unsigned long long total = 0;
    for (const auto x : v)
        total += x;
    return {double(total - v[3] - v[4]) / Tick, double(total) / Tick};
}

} // namespace ProcStats
