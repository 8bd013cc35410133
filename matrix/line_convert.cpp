// The line converter compiled for the baseline instruction set, and the choice of copy.
#include "matrix/line_convert.h"

#include "base/kernels.h"

namespace respmat::detail {

const char *convert_line_baseline(char sep, const char *line, const char *stop, const char *input_end,
                                  std::int32_t cols, double *row) {
  return convert_line_in_place(sep, line, stop, input_end, cols, row);
}

LineConverter choose_line_converter() { return use_ssse3_kernels() ? convert_line_ssse3 : convert_line_baseline; }

}  // namespace respmat::detail
