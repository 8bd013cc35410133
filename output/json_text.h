// JSON summaries as the commands write them: two-space indents, a final line feed,
// and null for any number that is not finite (JSON has no NaN or infinity).
#ifndef RESPMAT_OUTPUT_JSON_TEXT_H
#define RESPMAT_OUTPUT_JSON_TEXT_H

#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace respmat {

[[nodiscard]] inline nlohmann::json finite_or_null(double value) {
  return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json();
}

[[nodiscard]] inline nlohmann::json finite_or_null(const std::optional<double> &value) {
  return value ? finite_or_null(*value) : nlohmann::json();
}

// An array of numbers, each finite or null.
[[nodiscard]] inline nlohmann::json numbers(const std::vector<double> &values) {
  nlohmann::json array = nlohmann::json::array();
  for (const double v : values) array.push_back(finite_or_null(v));
  return array;
}

// The file's whole text. Names come from files in any encoding: bytes that are not
// UTF-8 are written as U+FFFD rather than refused.
[[nodiscard]] inline std::string json_text(const nlohmann::json &summary) {
  return summary.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace respmat

#endif
