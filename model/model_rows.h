// A model matrix one row at a time, for writers that take its rows in order and never
// hold the whole matrix: the binary form, the heat map, and text beside a heat map.
#ifndef RESPMAT_MODEL_MODEL_ROWS_H
#define RESPMAT_MODEL_MODEL_ROWS_H

#include <cstdint>
#include <vector>

#include "model/response_model.h"

namespace respmat {

class ModelRows {
 public:
  // `model` must outlive the object.
  explicit ModelRows(const ResponseModel &model);

  // Row i, 0 <= i < rows: the model's entries, 0 past its reach. Valid until the next
  // call. Rows are cheapest asked for in order.
  [[nodiscard]] const std::vector<double> &row(std::int32_t i);
  // How many leading entries of the last row the model reaches.
  [[nodiscard]] std::int32_t reach() const { return reach_; }

 private:
  const ResponseModel &model_;
  std::vector<double> row_;
  std::int32_t reach_ = 0;
  std::size_t computed_ = 0;  // entries of row_ that may be other than 0
};

}  // namespace respmat

#endif
