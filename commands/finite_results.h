// Finite inputs must give finite results: a command whose result would hold a number
// that is not finite refuses, naming the cause, instead of writing it.
#ifndef RESPMAT_COMMANDS_FINITE_RESULTS_H
#define RESPMAT_COMMANDS_FINITE_RESULTS_H

#include <cmath>
#include <cstddef>
#include <optional>

namespace respmat {

// The place of the first value that is not a finite number, if any.
template <typename Values>
[[nodiscard]] std::optional<std::size_t> first_non_finite(const Values &values) {
  for (std::size_t k = 0; k < values.size(); ++k)
    if (!std::isfinite(values[k])) return k;
  return std::nullopt;
}

}  // namespace respmat

#endif
