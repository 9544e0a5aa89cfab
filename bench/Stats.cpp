// SPDX-License-Identifier: MIT
#include "Stats.h"

#include <algorithm>
#include <cmath>
#include <ctime>

std::int64_t Stats::nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

double Stats::percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const double rank = p / 100.0 * double(samples.size() - 1);
    const auto low = std::size_t(std::floor(rank));
    const auto high = std::min(low + 1, samples.size() - 1);
    return samples[low] + (samples[high] - samples[low]) * (rank - double(low));
}
