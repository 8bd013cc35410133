// The heat map's picture once its cells are coloured: the cells scaled to the plot,
// the title, the axes with their labels, the colour bar and the legend, laid out,
// drawn with Cairo and written to a stream.
#ifndef RESPMAT_PICTURE_HEAT_MAP_PICTURE_H
#define RESPMAT_PICTURE_HEAT_MAP_PICTURE_H

#include <cstdint>
#include <cstdio>

#include "picture/heat_map.h"

namespace respmat {

// Cell colours as the picture takes them.
inline constexpr std::uint32_t kStructuralZeroColour = 0xC0C0C0;  // neutral grey
inline constexpr std::uint32_t kNanColour = 0x000000;

// What the heat map gathered from the rows.
struct HeatMapCells {
  std::int32_t rows;  // of the matrix
  std::int32_t cols;
  std::int32_t block_rows;  // entries a cell holds down
  std::int32_t block_cols;  // and across
  std::int32_t cell_rows;
  std::int32_t cell_cols;
  const std::uint32_t *colours;  // cell_rows x cell_cols, 0x00RRGGBB, row-major
  double range;                  // positive and finite
  bool has_structural_zeros;
  bool has_nan;
};

// Draws the picture and writes it to `stream`, then flushes the stream. Returns
// false and sets errno when it fails: the write's own error, ENOMEM, or EIO when
// Cairo fails for another reason.
[[nodiscard]] bool write_heat_map_picture(std::FILE *stream, PictureFormat format, const HeatMapCells &cells,
                                          const HeatMapStyle &style);

}  // namespace respmat

#endif
