// A picture of a matrix: a heat map drawn while the rows stream by, holding memory
// for one row and the picture whatever the size of the matrix, written as PNG, SVG
// or PDF.
#ifndef RESPMAT_PICTURE_HEAT_MAP_H
#define RESPMAT_PICTURE_HEAT_MAP_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace respmat {

enum class PictureFormat { png, svg, pdf };

// The format a picture file's name asks for: ".svg" and ".pdf" (any case), else PNG.
[[nodiscard]] PictureFormat picture_format(const std::string &path);
// The same for the plots, which name their format: ".png", ".svg" or ".pdf" (any
// case), nothing for any other name.
[[nodiscard]] std::optional<PictureFormat> plot_format(const std::string &path);

// The words around the cells.
struct HeatMapStyle {
  std::string title;                   // drawn above the plot
  std::vector<std::string> row_names;  // one per row, or empty: 0-based indices
  std::vector<std::string> column_names;  // one per column, or empty: 0-based indices
  std::string row_axis = "monitor";
  std::string column_axis = "corrector";
  // The colour bar's label: what the entries are and their units, "response (orbit
  // per unit kick)"; either may be empty.
  std::string quantity;
  std::string units;
};

// Entries are drawn as blocks of at least 600 pixels to the side of the plot up to
// kMaxCells entries a side; beyond that each cell is the mean of a block of entries,
// the smallest block that keeps the cells within kMaxCells a side. SVG and PDF draw
// each cell as a filled rectangle up to a few hundred cells a side, one image beyond.
// Colours run from blue (-range) through white (0) to red (+range), symmetric about
// 0, with a colour bar beside the plot, its ticks at round values and its label
// naming the quantity and its units. Entries that are zero by construction are grey;
// a cell with a NaN among its entries is black. Row and column labels are thinned to
// those that fit without overlapping.
class HeatMap {
 public:
  static constexpr std::int32_t kMaxCells = 2048;

  // A picture of a rows x cols matrix whose entries lie within [-range, range]
  // (entries beyond it take the colour of its ends). A range that is not a positive
  // finite number is taken as 1.
  HeatMap(std::FILE *stream, PictureFormat format, std::int32_t rows, std::int32_t cols, double range,
          HeatMapStyle style);

  // Each returns false when drawing or writing fails; errno (or the stream's error
  // indicator) then says why: EINVAL for calls out of order, a row of the wrong
  // length, negative counts or names that do not match them; ENOMEM when the
  // picture does not fit in memory. No further call may then be made.
  [[nodiscard]] bool start();
  // Row by row, in order, `rows` of them; row.size() == cols; entries
  // [reachable, cols) are zero by construction.
  [[nodiscard]] bool add_row(const std::vector<double> &row, std::int32_t reachable);
  // Draws everything, writes the file to the stream and flushes it.
  [[nodiscard]] bool finish();

 private:
  void colour_cell_row();
  [[nodiscard]] bool fail(int error);

  std::FILE *stream_;
  PictureFormat format_;
  std::int32_t rows_;
  std::int32_t cols_;
  double range_;
  HeatMapStyle style_;
  std::int32_t block_rows_ = 1;  // entries a cell holds down
  std::int32_t block_cols_ = 1;  // and across
  std::int32_t cell_rows_ = 0;
  std::int32_t cell_cols_ = 0;
  std::vector<double> sums_;           // per cell of the cell row being gathered: its reachable entries
  std::vector<std::int64_t> counts_;   // and how many there are
  std::vector<std::uint32_t> cells_;   // the coloured cells, 0x00RRGGBB, row-major
  std::int32_t rows_added_ = 0;
  std::int32_t rows_in_cell_row_ = 0;
  std::int32_t cell_rows_done_ = 0;
  enum class Stage { created, rows, done } stage_ = Stage::created;
  bool has_structural_zeros_ = false;
  bool has_nan_ = false;
};

// A matrix held in memory (row-major rows x cols): range = the largest finite |entry|
// drawn (1 when there is none but 0), every entry reachable unless `reachable` (one
// count per row) is given. Returns false and sets errno on failure, as HeatMap does;
// throws StopRequested between rows once a stop is requested (base/stop_request.h).
[[nodiscard]] bool draw_heat_map(std::FILE *stream, PictureFormat format, const double *values, std::int32_t rows,
                                 std::int32_t cols, const HeatMapStyle &style,
                                 const std::int32_t *reachable = nullptr);

}  // namespace respmat

#endif
