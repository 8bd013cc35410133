// A picture of the model matrix: a PNG heat map written while the rows stream by,
// holding O(m) memory whatever the size of the matrix.
#ifndef RESPMAT_JOB_HEAT_MAP_H
#define RESPMAT_JOB_HEAT_MAP_H

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace respmat {

// One pixel per entry up to kMaxSide entries a side; beyond that each pixel is the
// mean of a square block of k x k entries (fewer at the right and bottom edges), k
// the smallest block that fits the picture in kMaxSide pixels. Colours run from blue
// (-range) through white (0) to red (+range), symmetric about 0; the range is
// stored in a "Range" text chunk. NaN entries are grey. An m of 0 gives one white
// pixel.
class HeatMap {
 public:
  static constexpr std::int32_t kMaxSide = 2048;

  // A picture of an m x m matrix whose entries lie within [-range, range].
  HeatMap(std::FILE *stream, std::int32_t m, double range);
  HeatMap(const HeatMap &) = delete;
  HeatMap &operator=(const HeatMap &) = delete;
  ~HeatMap();

  // Each returns false when libpng fails (a failed write, no memory); the stream's
  // error indicator or errno then tells why, and no further call may be made.
  [[nodiscard]] bool start();
  [[nodiscard]] bool add_row(const std::vector<double> &row);  // rows in order, m of them
  [[nodiscard]] bool finish();

  [[nodiscard]] std::int32_t side() const { return side_; }

 private:
  void colour_block_row();
  [[nodiscard]] bool write_pixel_row();

  std::FILE *stream_;
  std::int32_t m_;
  double range_;
  std::int32_t block_;  // entries a side per pixel
  std::int32_t side_;   // pixels a side
  std::vector<double> sums_;
  std::int32_t rows_in_block_ = 0;
  std::vector<png_byte> pixels_;
  std::string range_text_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

}  // namespace respmat

#endif
