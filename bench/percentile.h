// Percentiles of the benchmarks' timings.
#pragma once

#include <cstddef>
#include <vector>

namespace dittix::bench {

// The q-quantile (0 … 1) of a sorted, non-empty sample, taken at the nearest lower rank.
inline double percentile(const std::vector<double>& sorted, double q) {
    return sorted[static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1))];
}

}  // namespace dittix::bench
