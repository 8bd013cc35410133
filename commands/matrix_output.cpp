#include "commands/matrix_output.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "commands/model_command.h"
#include "model/model_rows.h"
#include "output/row_writers.h"
#include "picture/heat_map.h"

namespace respmat {
namespace {

// A matrix held whole, as the writers take a model.
class HeldMatrix final : public ResponseModel {
 public:
  HeldMatrix(const analysis::Dense &values, std::vector<std::string> row_names,
             std::vector<std::string> column_names)
      : values_(values), row_names_(std::move(row_names)), column_names_(std::move(column_names)) {}
  std::int32_t rows() const override { return values_.rows; }
  std::int32_t cols() const override { return values_.cols; }
  std::int32_t row(std::int32_t i, double *out) const override {
    std::copy_n(&values_.values[static_cast<std::size_t>(i) * static_cast<std::size_t>(values_.cols)],
                static_cast<std::size_t>(values_.cols), out);
    return values_.cols;
  }
  double bound() const override {
    double largest = 0.0;
    for (const double v : values_.values) largest = std::max(largest, std::fabs(v));
    return largest;
  }
  std::vector<std::string> monitor_names() const override { return row_names_; }
  std::vector<std::string> corrector_names() const override { return column_names_; }

 private:
  const analysis::Dense &values_;
  std::vector<std::string> row_names_, column_names_;
};

}  // namespace

int write_in_layout(const MatrixForm &form, const ModelSource &source, MatrixLayout layout,
                    const MeasuredResponse &response, HeldResult result, std::FILE *stream) {
  analysis::Dense &values = result.values;
  const MatrixDescription description{result.holds, layout, values.rows, values.cols, result.constants};
  const bool transpose = layout == MatrixLayout::correctors_by_monitors;
  if (transpose) analysis::transpose(values);
  const HeldMatrix held(values, transpose ? response.corrector_names : response.monitor_names,
                        transpose ? response.monitor_names : response.corrector_names);
  if (form.format == OutputFormat::bin) {
    write_bin_header(values.rows, values.cols, stream);
    ModelRows rows(held);
    for (std::int32_t i = 0; i < values.rows; ++i) write_bin_row(rows.row(i), stream);
    return 0;
  }
  return write_model_text(held, matrix_text(form, held, table_header(source, description)), stream, form.threads);
}

bool draw_measured(HeatMapStyle style, const std::string &path, const MeasuredResponse &response,
                   const analysis::Dense &values, std::FILE *stream) {
  style.row_names = response.monitor_names;
  style.column_names = response.corrector_names;
  std::vector<std::int32_t> reach;
  const auto cols = static_cast<std::size_t>(values.cols);
  for (std::int32_t i = 0; i < values.rows; ++i) {
    std::int32_t last = 0;
    for (std::size_t j = 0; j < cols; ++j)
      if (response.reachable[static_cast<std::size_t>(i) * cols + j]) last = static_cast<std::int32_t>(j) + 1;
    reach.push_back(last);
  }
  return draw_heat_map(stream, picture_format(path), values.values.data(), values.rows, values.cols, style,
                       reach.data());
}

}  // namespace respmat
