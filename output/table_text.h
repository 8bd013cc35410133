// A model matrix as an optics-style table: '@' header values, a '*' line naming the
// columns (NAME, then one column per corrector, named after it), a '$' line of their
// types, and one row per monitor, its name first. The tool's own table reader reads
// it back, as do the field's other readers of such tables.
#ifndef RESPMAT_OUTPUT_TABLE_TEXT_H
#define RESPMAT_OUTPUT_TABLE_TEXT_H

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "output/model_writer.h"
#include "model/response_model.h"

namespace respmat {

struct TableHeaderValue {
  std::string name;
  std::variant<std::string, double, std::int64_t> value;
};

[[nodiscard]] ModelText optics_style_table(const ResponseModel &model, int digits,
                                           const std::vector<TableHeaderValue> &header);

}  // namespace respmat

#endif
