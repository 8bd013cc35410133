// The singular values of a correction on a log scale, the kept ones filled and the
// cut ones hollow: the picture that shows where the singular values drop.
#ifndef RESPMAT_PICTURE_SINGULAR_VALUE_PLOT_H
#define RESPMAT_PICTURE_SINGULAR_VALUE_PLOT_H

#include <cstdint>
#include <cstdio>
#include <vector>

#include "picture/heat_map.h"

namespace respmat {

// Draws `values` (largest first) to `stream` as PNG, SVG or PDF; zeros, which a log
// scale cannot show, sit on the bottom axis. False with errno set when a write fails.
[[nodiscard]] bool draw_singular_values(std::FILE *stream, PictureFormat format, const std::vector<double> &values,
                                 std::int32_t kept);

}  // namespace respmat

#endif
