#include "app/model_writer.h"

#include <string>

#include "app/model.h"
#include "app/scaled_sine.h"
#include "matrix/csv_buffer.h"

namespace respmat {

void write_model_csv(const double *phases, std::int32_t m, std::FILE *stream) {
  const ScaledSine scaled_sine(kAmplitude);
  detail::CsvBuffer out(stream);
  std::string zeros;  // ",0" for each entry above the diagonal of the first row
  for (std::int32_t j = 1; j < m; ++j) zeros += ",0";
  for (std::int32_t i = 0; i < m; ++i) {
    const long double phase_i = phases[i];
    for (std::int32_t j = 0; j <= i; ++j) {
      // The steps of model_entry(), with the sine and the final rounding done faster.
      const long double d = phase_i - static_cast<long double>(phases[j]);
      const long double u = d * static_cast<long double>(kFullTurn) + static_cast<long double>(kPhaseOffset);
      if (j != 0) out.byte(',');
      out.number(scaled_sine(u));
    }
    out.bytes(zeros.data(), 2 * static_cast<std::size_t>(m - 1 - i));
    out.byte('\n');
  }
  out.byte('\n');
}

}  // namespace respmat
