#include "picture/heat_map.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <new>
#include <string_view>
#include <utility>

#include "base/stop_request.h"
#include "picture/heat_map_picture.h"

namespace respmat {
namespace {

std::uint32_t channel(double level) { return static_cast<std::uint32_t>(std::lround(255.0 * level)); }

// Blue through white to red as mean / range runs over [-1, 1]; beyond it, the ends.
std::uint32_t scale_colour(double mean, double range) {
  if (std::isnan(mean)) return kNanColour;
  const double t = std::fmax(-1.0, std::fmin(1.0, mean / range));
  const std::uint32_t fade = channel(1.0 - std::fabs(t));
  const std::uint32_t red = t < 0 ? fade : 255;
  const std::uint32_t blue = t > 0 ? fade : 255;
  return red << 16 | fade << 8 | blue;
}

// Entries a cell holds along an axis: one up to kMaxCells entries, else the smallest
// block that keeps the cells within kMaxCells.
std::int32_t block_size(std::int32_t entries) {
  const std::int64_t block = (std::int64_t{entries} + HeatMap::kMaxCells - 1) / HeatMap::kMaxCells;
  return static_cast<std::int32_t>(std::max<std::int64_t>(1, block));
}

std::int32_t cell_count(std::int32_t entries, std::int32_t block) {
  return static_cast<std::int32_t>((std::int64_t{entries} + block - 1) / block);
}

bool ends_with_ignoring_case(const std::string &text, std::string_view lower_suffix) {
  if (text.size() < lower_suffix.size()) return false;
  const auto ascii_lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return std::equal(lower_suffix.rbegin(), lower_suffix.rend(), text.rbegin(),
                    [&](char suffix_char, char text_char) { return suffix_char == ascii_lower(text_char); });
}

// The largest finite |entry| among those drawn (each row's first `reachable[i]`,
// or all), 0 when there is none: entries drawn grey must not widen the scale.
double largest_magnitude(const double *values, std::int32_t rows, std::int32_t cols, const std::int32_t *reachable) {
  double largest = 0.0;
  for (std::int32_t i = 0; i < rows; ++i) {
    const double *row = values + static_cast<std::size_t>(i) * static_cast<std::size_t>(cols);
    const std::int32_t end = reachable != nullptr ? std::clamp(reachable[i], 0, cols) : cols;
    for (std::int32_t j = 0; j < end; ++j)
      if (std::isfinite(row[j])) largest = std::fmax(largest, std::fabs(row[j]));
  }
  return largest;
}

}  // namespace

PictureFormat picture_format(const std::string &path) {
  if (ends_with_ignoring_case(path, ".svg")) return PictureFormat::svg;
  if (ends_with_ignoring_case(path, ".pdf")) return PictureFormat::pdf;
  return PictureFormat::png;
}

std::optional<PictureFormat> plot_format(const std::string &path) {
  if (ends_with_ignoring_case(path, ".png")) return PictureFormat::png;
  if (picture_format(path) == PictureFormat::png) return std::nullopt;
  return picture_format(path);
}

HeatMap::HeatMap(std::FILE *stream, PictureFormat format, std::int32_t rows, std::int32_t cols, double range,
                 HeatMapStyle style)
    : stream_(stream),
      format_(format),
      rows_(rows),
      cols_(cols),
      range_(std::isfinite(range) && range > 0 ? range : 1.0),
      style_(std::move(style)) {}

bool HeatMap::fail(int error) {
  stage_ = Stage::done;
  errno = error;
  return false;
}

bool HeatMap::start() {
  if (stage_ != Stage::created || rows_ < 0 || cols_ < 0) return fail(EINVAL);
  const auto names_fit = [](const std::vector<std::string> &names, std::int32_t count) {
    return names.empty() || names.size() == static_cast<std::size_t>(count);
  };
  if (!names_fit(style_.row_names, rows_) || !names_fit(style_.column_names, cols_)) return fail(EINVAL);
  block_rows_ = block_size(rows_);
  block_cols_ = block_size(cols_);
  cell_rows_ = cell_count(rows_, block_rows_);
  cell_cols_ = cell_count(cols_, block_cols_);
  try {
    sums_.assign(static_cast<std::size_t>(cell_cols_), 0.0);
    counts_.assign(static_cast<std::size_t>(cell_cols_), 0);
    cells_.assign(static_cast<std::size_t>(cell_rows_) * static_cast<std::size_t>(cell_cols_), 0);
  } catch (const std::bad_alloc &) {
    return fail(ENOMEM);
  }
  stage_ = Stage::rows;
  return true;
}

bool HeatMap::add_row(const std::vector<double> &row, std::int32_t reachable) {
  if (stage_ != Stage::rows || rows_added_ == rows_ || row.size() != static_cast<std::size_t>(cols_))
    return fail(EINVAL);
  const std::int64_t end = std::clamp(reachable, 0, cols_);
  if (end < cols_) has_structural_zeros_ = true;
  for (std::int64_t cell = 0; cell * block_cols_ < end; ++cell) {
    const std::int64_t first = cell * block_cols_;
    const std::int64_t stop = std::min(first + block_cols_, end);
    double sum = 0.0;
    for (std::int64_t j = first; j < stop; ++j) sum += row[static_cast<std::size_t>(j)];
    sums_[static_cast<std::size_t>(cell)] += sum;
    counts_[static_cast<std::size_t>(cell)] += stop - first;
  }
  ++rows_added_;
  if (++rows_in_cell_row_ == block_rows_ || rows_added_ == rows_) colour_cell_row();
  return true;
}

// A cell of structural zeros alone is grey; any other is the mean of its reachable
// entries, so the zeros of the model's shape do not pale the entries beside them.
void HeatMap::colour_cell_row() {
  std::uint32_t *colours =
      cells_.data() + static_cast<std::size_t>(cell_rows_done_) * static_cast<std::size_t>(cell_cols_);
  for (std::size_t c = 0; c < sums_.size(); ++c) {
    if (counts_[c] == 0) {
      colours[c] = kStructuralZeroColour;
    } else {
      const double mean = sums_[c] / static_cast<double>(counts_[c]);
      if (std::isnan(mean)) has_nan_ = true;
      colours[c] = scale_colour(mean, range_);
    }
    sums_[c] = 0.0;
    counts_[c] = 0;
  }
  rows_in_cell_row_ = 0;
  ++cell_rows_done_;
}

bool HeatMap::finish() {
  if (stage_ != Stage::rows || rows_added_ != rows_) return fail(EINVAL);
  stage_ = Stage::done;
  const HeatMapCells cells{.rows = rows_,
                           .cols = cols_,
                           .block_rows = block_rows_,
                           .block_cols = block_cols_,
                           .cell_rows = cell_rows_,
                           .cell_cols = cell_cols_,
                           .colours = cells_.data(),
                           .range = range_,
                           .has_structural_zeros = has_structural_zeros_,
                           .has_nan = has_nan_};
  return write_heat_map_picture(stream_, format_, cells, style_);
}

bool draw_heat_map(std::FILE *stream, PictureFormat format, const double *values, std::int32_t rows,
                   std::int32_t cols, const HeatMapStyle &style, const std::int32_t *reachable) {
  if (rows < 0 || cols < 0 || (values == nullptr && rows != 0 && cols != 0)) {
    errno = EINVAL;
    return false;
  }
  const std::size_t width = static_cast<std::size_t>(cols);
  HeatMap map(stream, format, rows, cols, largest_magnitude(values, rows, cols, reachable), style);
  if (!map.start()) return false;
  std::vector<double> row;
  try {
    row.reserve(width);
  } catch (const std::bad_alloc &) {
    errno = ENOMEM;
    return false;
  }
  const LongWork looks_for_stops;
  for (std::int32_t i = 0; i < rows; ++i) {
    stop_if_requested();
    const double *first = values + static_cast<std::size_t>(i) * width;
    row.assign(first, first + width);
    if (!map.add_row(row, reachable != nullptr ? reachable[i] : cols)) return false;
  }
  return map.finish();
}

}  // namespace respmat
