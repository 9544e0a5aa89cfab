// SPDX-License-Identifier: MIT
#include "ProcStats.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace ProcStats {

namespace {

const double Tick = double(::sysconf(_SC_CLK_TCK));

} // namespace

double cpuSeconds(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    FILE *file = std::fopen(path, "r");
    if (!file)
        return 0;
    char text[1024] = {};
    const size_t n = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[n] = '\0';
    // The command name may hold blanks; the fields after it are counted from its ')'.
    const char *rest = std::strrchr(text, ')');
    unsigned long user = 0;
    unsigned long system = 0;
    if (!rest || std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user,
                             &system) != 2)
        return 0;
    return double(user + system) / Tick;
}

double pssKiB(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/smaps_rollup", int(pid));
    FILE *file = std::fopen(path, "r");
    if (!file)
        return 0;
    char line[256];
    double kib = 0;
    while (std::fgets(line, sizeof line, file)) {
        if (std::sscanf(line, "Pss: %lf kB", &kib) == 1)
            break;
    }
    std::fclose(file);
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
