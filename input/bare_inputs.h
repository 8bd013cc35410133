// The bare command's reading of its inputs, as it has always read them: m is the
// number of fields of the response file's first line, and the phases are column 0 of
// the phase file's first m lines, each read like atof (a field that is not a number
// is the number atof makes of it, and only warned about).
#ifndef RESPMAT_INPUT_BARE_INPUTS_H
#define RESPMAT_INPUT_BARE_INPUTS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/failure.h"

namespace respmat {

// The number of fields of the first line of the file at `path` (0 without lines),
// counted as the line streams past.
[[nodiscard]] std::optional<Failure> read_response_width(const std::string &path, std::int32_t &m);

// The first phase that is not a number, and how many there are.
struct NonNumericPhases {
  std::int64_t count = 0;
  std::int64_t first_line = 0;
  std::string first_text;
  double first_value = 0.0;
};

// Column 0 of the first m lines (fewer when the file has fewer), read like atof.
[[nodiscard]] std::optional<Failure> read_phases_like_atof(const std::string &path, std::int32_t m,
                                                           std::vector<double> &phases, NonNumericPhases &non_numeric);

// The one warning about the phases that are not numbers.
[[nodiscard]] std::string non_numeric_warning(const std::string &path, const NonNumericPhases &non_numeric);

}  // namespace respmat

#endif
