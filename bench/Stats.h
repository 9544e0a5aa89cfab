// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

// Monotonic time and percentiles for the benchmarks.
namespace Stats {

std::int64_t nowNs();
// The p-th percentile (0..100) of the samples; 0 for none.
double percentile(std::vector<double> samples, double p);
inline double median(std::vector<double> samples)
{
    return percentile(std::move(samples), 50);
}

} // namespace Stats
