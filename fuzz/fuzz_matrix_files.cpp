// The readers of whole matrices, optics tables, orbits and limits that compare, fit
// and correct use, on arbitrary files: a result is either finite values of a
// consistent shape with matching names, or one failure that reads as one line.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_test_support.h"
#include "input/correction_vectors.h"
#include "input/measured_matrix.h"
#include "input/optics_table.h"
#include "input/optics_table_rows.h"
#include "input/response_matrix.h"

using respmat::fuzz::check;

namespace {

void check_one_line(const std::string &message) {
  check(message.find('\n') == std::string::npos, "a failure message spans lines");
}

void check_values(const respmat::analysis::Dense &values) {
  check(values.values.size() == static_cast<std::size_t>(values.rows) * static_cast<std::size_t>(values.cols),
        "a matrix's values do not fill its shape");
  for (const double v : values.values) check(std::isfinite(v), "a matrix holds a value that is not finite");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const respmat::fuzz::ScratchFile file("matrix-files");
  FuzzedDataProvider in(data, size);
  const bool by_monitors = in.ConsumeBool();
  const char *path = file.write(in.ConsumeRemainingBytesAsString());

  const respmat::MeasuredMatrixResult measured = respmat::read_measured_matrix(path);
  if (measured.failure) {
    check_one_line(measured.failure->message);
  } else {
    check_values(measured.matrix.values);
    check(measured.matrix.row_names.empty() ||
              measured.matrix.row_names.size() == static_cast<std::size_t>(measured.matrix.values.rows),
          "row names do not match the rows");
  }

  const respmat::OpticsTableResult optics = respmat::read_optics_table(path);
  if (optics.failure) check_one_line(optics.failure->message);
  for (const auto &row : optics.table.rows) check(row.size() == optics.table.columns.size(), "a row's fields differ");
  if (!optics.failure) {  // its quadrupoles, by keyword or by a pattern
    respmat::OpticsRows quadrupoles;
    const std::optional<std::string> match = by_monitors ? std::optional<std::string>("Q") : std::nullopt;
    if (const auto error = respmat::optics_table_quadrupoles(optics.table, path, match, by_monitors, quadrupoles)) {
      check_one_line(error->message);
    } else {
      check(quadrupoles.x.size() == quadrupoles.y.size() && quadrupoles.x.size() == quadrupoles.k1l.size(),
            "the planes' quadrupoles differ in number");
      for (const auto &q : quadrupoles.x)
        check(std::isfinite(q.beta) && std::isfinite(q.mu) && std::isfinite(q.dispersion) && q.beta >= 0.0,
              "a quadrupole's optics are not finite");
    }
  }

  respmat::NamedMatrix matrix;
  const auto layout = by_monitors ? respmat::MatrixLayout::monitors_by_correctors
                                  : respmat::MatrixLayout::correctors_by_monitors;
  if (const auto error = respmat::read_response_matrix(path, layout, matrix))
    check_one_line(error->message);
  else
    check_values(matrix.values);

  // The orbit and the limits of a correction, from the same bytes.
  respmat::MonitorValues orbit;
  if (const auto error = respmat::read_monitor_values(path, std::nullopt, "X", orbit)) {
    check_one_line(error->message);
  } else {
    for (const double v : orbit.values) check(std::isfinite(v), "an orbit holds a value that is not finite");
    check(orbit.names.empty() || orbit.names.size() == orbit.values.size(), "orbit names do not match its values");
  }
  respmat::CorrectorLimits limits;
  if (const auto error = respmat::read_change_limits(path, limits))
    check_one_line(error->message);
  else
    for (const auto &l : limits.limits) check(l.lower <= l.upper, "a corrector's limits are reversed");
  return 0;
}
