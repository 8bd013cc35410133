#include "app/model_writer.h"

#include <string>
#include <vector>

#include "app/model.h"
#include "app/scaled_sine.h"
#include "matrix/csv_buffer.h"

namespace respmat {

void write_model_csv(const double *phases, std::int32_t m, std::FILE *stream) {
  const ScaledSine scaled_sine(kAmplitude);
  detail::CsvBuffer out(stream);
  std::string zeros;  // ",0" for each entry above the diagonal of the first row
  for (std::int32_t j = 1; j < m; ++j) zeros += ",0";
  // A row's sines are computed in a loop of their own: the evaluations are then
  // independent and overlap in the processor, where interleaved with the formatting
  // each would wait for the one before.
  std::vector<double> row(static_cast<std::size_t>(m));
  for (std::int32_t i = 0; i < m; ++i) {
    const long double phase_i = phases[i];
    for (std::int32_t j = 0; j <= i; ++j) {
      // The steps of model_entry(), with the sine and the final rounding done faster.
      row[static_cast<std::size_t>(j)] = scaled_sine(model_argument(phase_i, phases[j]));
    }
    out.number(row[0]);
    for (std::int32_t j = 1; j <= i; ++j) {
      out.byte(',');
      out.number(row[static_cast<std::size_t>(j)]);
    }
    out.bytes(zeros.data(), 2 * static_cast<std::size_t>(m - 1 - i));
    out.byte('\n');
  }
  out.byte('\n');
}

}  // namespace respmat
