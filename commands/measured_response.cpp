#include "commands/measured_response.h"

#include <algorithm>
#include <cstddef>

#include "analysis/parallel_blocks.h"
#include "model/model_matrix.h"

namespace respmat {

void place_model(MeasuredResponse &response) {
  const ResponseModel &model = *response.inputs.model;
  const analysis::Dense &measured = response.measured;
  std::vector<std::int32_t> reach(static_cast<std::size_t>(model.rows()));
  const std::vector<std::int32_t> &columns = response.corrector_columns;
  bool every_column_in_order = model.cols() == measured.cols;
  for (std::size_t j = 0; every_column_in_order && j < columns.size(); ++j)
    every_column_in_order = columns[j] == static_cast<std::int32_t>(j);
  // A corrector at each of the model's columns, in order (the square case): the model
  // is the matrix itself, with no copy to pick its columns from.
  analysis::Dense picked_from;
  analysis::Dense &full = every_column_in_order ? response.model : picked_from;
  full = analysis::Dense::unset(model.rows(), model.cols());  // the model fills every entry
  model_matrix(model, full.values.data(), nullptr, reach.data());
  if (!every_column_in_order) response.model = analysis::Dense::unset(measured.rows, measured.cols);
  response.reachable.resize(response.model.values.size());
  const auto cols = static_cast<std::size_t>(measured.cols), full_cols = static_cast<std::size_t>(full.cols);
  analysis::detail::for_each_block(static_cast<std::size_t>(measured.rows), analysis::detail::kRowsPerBlock,
                                   [&](std::size_t, std::size_t begin, std::size_t end) {
                                     for (std::size_t i = begin; i < end; ++i)
                                       for (std::size_t j = 0; j < cols; ++j) {
                                         const auto column = static_cast<std::size_t>(columns[j]);
                                         if (!every_column_in_order)
                                           response.model.values[i * cols + j] = full.values[i * full_cols + column];
                                         response.reachable[i * cols + j] = columns[j] < reach[i];
                                       }
                                   });
}

}  // namespace respmat
