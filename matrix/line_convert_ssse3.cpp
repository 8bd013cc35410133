// The line converter compiled for SSSE3 (this file is built with -mssse3).
#include "matrix/line_convert.h"

#ifndef __SSSE3__
#error "this file is to be compiled for SSSE3 (-mssse3)"
#endif

namespace respmat::detail {

const char *convert_line_ssse3(char sep, const char *line, const char *stop, const char *input_end,
                               std::int32_t cols, double *row) {
  return convert_line_in_place(sep, line, stop, input_end, cols, row);
}

}  // namespace respmat::detail
