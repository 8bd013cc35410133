// The line converter built with byte shuffles (this file is compiled with them).
#include "matrix/line_convert.h"

#ifndef __SSSE3__
#error "this file is to be compiled with byte shuffles (-mssse3)"
#endif

namespace respmat::detail {

const char *convert_line_with_byte_shuffles(char sep, const char *line, const char *stop, const char *input_end,
                                            std::int32_t cols, double *row) {
  return convert_line_in_place(sep, line, stop, input_end, cols, row);
}

bool byte_shuffles_available() { return __builtin_cpu_supports("ssse3"); }

}  // namespace respmat::detail
