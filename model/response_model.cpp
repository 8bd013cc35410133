#include "model/response_model.h"

#include <algorithm>

namespace respmat {

std::vector<std::string> index_names(std::int32_t count) {
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(std::max(count, 0)));
  for (std::int32_t k = 0; k < count; ++k) names.push_back(std::to_string(k));
  return names;
}

}  // namespace respmat
