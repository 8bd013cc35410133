// The heat map's picture once its cells are coloured: laid out first as a plain
// structure (the texts, ticks and names drawn, where the cells and the colour bar
// go), then drawn with Cairo from that layout and written to a stream.
#ifndef RESPMAT_PICTURE_HEAT_MAP_PICTURE_H
#define RESPMAT_PICTURE_HEAT_MAP_PICTURE_H

#include <cairo.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "picture/heat_map.h"

namespace respmat {

// Cell colours as the picture takes them.
inline constexpr std::uint32_t kStructuralZeroColour = 0xC0C0C0;  // neutral grey
inline constexpr std::uint32_t kNanColour = 0x000000;

// Up to this many cells a side, SVG and PDF draw each cell as a filled rectangle, so
// that the picture stays sharp at any zoom; beyond it, one image of the cells keeps
// the file small.
inline constexpr std::int32_t kMaxVectorCells = 300;

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

struct Box {
  double x = 0, y = 0, width = 0, height = 0;
};

// A row's or column's label: the entry it names, its text and where its tick is (y
// for rows, x for columns).
struct AxisLabel {
  std::int32_t entry;
  std::string text;
  double at;
};

// A value marked on the colour bar and the height of its tick.
struct ScaleTick {
  double value;
  std::string text;
  double y;
};

struct LegendItem {
  std::uint32_t colour;
  std::string text;
};

// Where everything goes, in pixels (PNG) or points (SVG, PDF); texts as drawn (cut
// to their room). Rows run down from the top, row 0 first; columns left to right.
struct HeatMapLayout {
  double width = 0, height = 0;
  std::string title;
  double title_x = 0, title_y = 0;  // its middle
  Box plot;
  double cell_width = 0, cell_height = 0;
  bool vector_cells = false;  // a filled rectangle per cell, else one image of them
  std::string row_axis, column_axis;
  double row_axis_x = 0, column_axis_y = 0;  // their middles
  std::vector<AxisLabel> row_labels, column_labels;
  bool column_labels_upright = true;  // indices stand upright; names read upwards
  double column_labels_y = 0;         // their top
  Box bar;                            // the colour bar, -range at its foot
  std::vector<ScaleTick> bar_ticks;   // round values, 1-2-5 steps
  double bar_ticks_x = 0;             // where their texts start
  std::string bar_label;              // what the colours are, in what units
  double bar_label_x = 0;             // its middle, reading upwards
  std::vector<LegendItem> legend;
  double legend_y = 0;  // the first item's top
};

// Lays the picture out, measuring text on `measure`.
[[nodiscard]] HeatMapLayout lay_out_heat_map(cairo_t *measure, const HeatMapCells &cells, const HeatMapStyle &style,
                                             PictureFormat format);

// Draws the picture and writes it to `stream`, then flushes the stream. Returns
// false and sets errno when it fails: the write's own error, ENOMEM, or EIO when
// Cairo fails for another reason.
[[nodiscard]] bool write_heat_map_picture(std::FILE *stream, PictureFormat format, const HeatMapCells &cells,
                                          const HeatMapStyle &style);

}  // namespace respmat

#endif
