#include "analysis/median.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>
#include <numeric>
#include <vector>

#include "analysis/parallel_blocks.h"

namespace respmat::analysis::detail {
namespace {

// Entries per block of work: enough to make a block's histogram worth its zeroing.
constexpr std::size_t kBlockEntries = std::size_t{1} << 20;
// The keys' top bits pick the bin: sign, exponent and four bits of the fraction.
constexpr int kBinBits = 16;
constexpr std::size_t kBins = std::size_t{1} << kBinBits;

// A key whose unsigned order is the order of the doubles, -0 just below +0, so that
// the selection never depends on the order it meets equal values in.
std::uint64_t order_key(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

double value_of(std::uint64_t key) {
  return std::bit_cast<double>((key >> 63) != 0 ? key & ~(std::uint64_t{1} << 63) : ~key);
}

std::size_t bin_of(std::uint64_t key) { return static_cast<std::size_t>(key >> (64 - kBinBits)); }

// Exact selection in two passes: a histogram of the keys' top bits finds the bins
// that hold the middle ranks, and only the values in those are then sorted out.
template <typename Value>
double median_of(const unsigned char *included, std::size_t count, Value value) {
  std::vector<std::uint64_t> histogram(kBins);
  std::mutex mutex;
  for_each_block(count, kBlockEntries, [&](std::size_t, std::size_t begin, std::size_t end) {
    std::vector<std::uint64_t> local(kBins);
    for (std::size_t k = begin; k < end; ++k)
      if (included[k] != 0) ++local[bin_of(order_key(value(k)))];
    const std::lock_guard lock(mutex);
    for (std::size_t b = 0; b < kBins; ++b) histogram[b] += local[b];
  });
  const std::uint64_t n = std::accumulate(histogram.begin(), histogram.end(), std::uint64_t{0});
  if (n == 0) return std::numeric_limits<double>::quiet_NaN();
  const std::uint64_t low_rank = (n - 1) / 2, high_rank = n / 2;
  std::size_t first = 0;
  std::uint64_t below = 0;  // keys in the bins before `first`
  while (below + histogram[first] <= low_rank) below += histogram[first++];
  std::size_t last = first;
  std::uint64_t through = below + histogram[first];  // keys up to the end of `last`
  while (through <= high_rank) through += histogram[++last];

  std::vector<std::uint64_t> keys;
  keys.reserve(static_cast<std::size_t>(through - below));
  for_each_block(count, kBlockEntries, [&](std::size_t, std::size_t begin, std::size_t end) {
    std::vector<std::uint64_t> local;
    for (std::size_t k = begin; k < end; ++k) {
      if (included[k] == 0) continue;
      const std::uint64_t key = order_key(value(k));
      const std::size_t bin = bin_of(key);
      if (bin >= first && bin <= last) local.push_back(key);
    }
    const std::lock_guard lock(mutex);
    keys.insert(keys.end(), local.begin(), local.end());
  });
  const auto low = keys.begin() + static_cast<std::ptrdiff_t>(low_rank - below);
  std::nth_element(keys.begin(), low, keys.end());
  const double a = value_of(*low);
  if (high_rank == low_rank) return a;
  return (a + value_of(*std::min_element(low + 1, keys.end()))) / 2.0;
}

}  // namespace

double masked_median(const double *values, const unsigned char *included, std::size_t count) {
  return median_of(included, count, [values](std::size_t k) { return values[k]; });
}

double masked_median_distance(const double *values, const unsigned char *included, std::size_t count, double centre) {
  return median_of(included, count, [values, centre](std::size_t k) { return std::fabs(values[k] - centre); });
}

}  // namespace respmat::analysis::detail
