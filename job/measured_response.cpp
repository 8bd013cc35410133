#include "job/measured_response.h"

#include <algorithm>
#include <cstddef>

#include "job/model.h"

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
  full = analysis::Dense(model.rows(), model.cols());
  model_matrix(model, full.values.data(), nullptr, reach.data());
  if (!every_column_in_order) response.model = analysis::Dense(measured.rows, measured.cols);
  response.reachable.assign(response.model.values.size(), 0);
  for (std::int32_t i = 0; i < measured.rows; ++i)
    for (std::int32_t j = 0; j < measured.cols; ++j) {
      const std::int32_t column = columns[static_cast<std::size_t>(j)];
      if (!every_column_in_order) response.model.at(i, j) = full.at(i, column);
      response.reachable[static_cast<std::size_t>(i) * static_cast<std::size_t>(measured.cols) +
                         static_cast<std::size_t>(j)] = column < reach[static_cast<std::size_t>(i)];
    }
}

}  // namespace respmat
