#include "job/measured_response.h"

#include <algorithm>
#include <cstddef>

#include "job/model.h"

namespace respmat {

void place_model(MeasuredResponse &response) {
  const ResponseModel &model = *response.inputs.model;
  analysis::Dense full(model.rows(), model.cols());
  std::vector<std::int32_t> reach(static_cast<std::size_t>(model.rows()));
  model_matrix(model, full.values.data(), nullptr, reach.data());
  const analysis::Dense &measured = response.measured;
  response.model = analysis::Dense(measured.rows, measured.cols);
  response.reachable.assign(response.model.values.size(), 0);
  for (std::int32_t i = 0; i < measured.rows; ++i)
    for (std::int32_t j = 0; j < measured.cols; ++j) {
      const std::int32_t column = response.corrector_columns[static_cast<std::size_t>(j)];
      response.model.at(i, j) = full.at(i, column);
      response.reachable[static_cast<std::size_t>(i) * static_cast<std::size_t>(measured.cols) +
                         static_cast<std::size_t>(j)] = column < reach[static_cast<std::size_t>(i)];
    }
}

}  // namespace respmat
