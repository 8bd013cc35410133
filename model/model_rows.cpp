#include "model/model_rows.h"

namespace respmat {

ModelRows::ModelRows(const ResponseModel &model)
    : model_(model), row_(static_cast<std::size_t>(model.cols()), 0.0) {}

const std::vector<double> &ModelRows::row(std::int32_t i) {
  reach_ = model_.row(i, row_.data());
  const auto reach = static_cast<std::size_t>(reach_);
  for (std::size_t j = reach; j < computed_; ++j) row_[j] = 0.0;
  computed_ = reach;
  return row_;
}

}  // namespace respmat
