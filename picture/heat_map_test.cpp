// The heat map through its interface: the formats it writes, the colours of entries
// that are no number or zero by construction, what it refuses and failed writes; and
// its layout: the colour bar's ticks and label, the names drawn, the cells as shapes.
#include "picture/heat_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <string>
#include <vector>

#include "picture/heat_map_picture.h"
#include "picture/picture_file.h"
#include "picture/picture_test_support.h"
#include "test_support.h"

namespace {

using respmat::HeatMap;
using respmat::HeatMapStyle;
using respmat::PictureFormat;
using respmat::testing::OwnedFile;
using respmat::testing::Picture;
using respmat::testing::TempDir;

// The PNG picture of a rows x cols matrix, read back.
Picture png_of(const std::vector<double> &values, int rows, int cols, const HeatMapStyle &style = {},
               const std::int32_t *reachable = nullptr) {
  TempDir dir;
  {
    const OwnedFile file(std::fopen(dir.file("map.png").c_str(), "wb"));
    EXPECT_TRUE(respmat::draw_heat_map(file.get(), PictureFormat::png, values.data(), rows, cols, style, reachable));
  }
  return respmat::testing::read_png(dir.file("map.png"));
}

TEST(HeatMap, TheFileNameChoosesTheFormat) {
  EXPECT_EQ(respmat::picture_format("map.svg"), PictureFormat::svg);
  EXPECT_EQ(respmat::picture_format("MAP.Svg"), PictureFormat::svg);
  EXPECT_EQ(respmat::picture_format("out/map.PDF"), PictureFormat::pdf);
  for (const char *png : {"map.png", "map", "svg", "map.svg.png", "map.svgz", ""})
    EXPECT_EQ(respmat::picture_format(png), PictureFormat::png) << png;
}

TEST(HeatMap, EachFormatOpensWithItsSignature) {
  const std::vector<double> values{1, 0, -0.5, 0.25};
  const auto written = [&](PictureFormat format) {
    const OwnedFile file(std::tmpfile());
    EXPECT_TRUE(respmat::draw_heat_map(file.get(), format, values.data(), 2, 2, {}));
    return respmat::testing::contents_of(file.get());
  };
  EXPECT_TRUE(written(PictureFormat::png).starts_with("\x89PNG\r\n\x1a\n"));
  const std::string svg = written(PictureFormat::svg);
  EXPECT_TRUE(svg.starts_with("<?xml") || svg.starts_with("<svg")) << svg.substr(0, 40);
  EXPECT_TRUE(written(PictureFormat::pdf).starts_with("%PDF"));
}

TEST(HeatMap, ShowsNotANumberInBlackAndStructuralZerosInGrey) {
  // Row 0 reaches column 0 alone; the largest finite |entry|, 0.5, is the range, so
  // entry (0, 0) is the pure red of its top and entry (1, 0) the pure blue of its foot.
  const std::vector<double> values{0.5, 0, -0.5, NAN};
  const std::int32_t reachable[] = {1, 2};
  const Picture picture = png_of(values, 2, 2, {}, reachable);
  const std::optional<respmat::testing::Pixel> corner = picture.find(0xFF0000);
  ASSERT_TRUE(corner);
  const int block = picture.run(corner->x, corner->y, 0xFF0000);
  EXPECT_EQ(picture.at(corner->x + block, corner->y), 0xC0C0C0u);
  EXPECT_EQ(picture.at(corner->x, corner->y + block), 0x0000FFu);
  EXPECT_EQ(picture.at(corner->x + block, corner->y + block), 0x000000u);
}

TEST(HeatMap, AMatrixWithoutEntriesStillGetsAPlot) {
  for (const auto &[rows, cols] : {std::pair{0, 0}, {0, 3}, {3, 0}}) {
    const Picture picture = png_of({}, rows, cols);
    EXPECT_GE(std::min(picture.width, picture.height), 600) << rows << " x " << cols;
  }
}

TEST(HeatMap, AnyTextIsDrawnWithinBounds) {
  HeatMapStyle style;
  style.title = std::string(100000, 'W');
  style.row_names = {"\xff\xfe broken", std::string("a\0b", 3)};
  style.column_names = {"\xe2\x82", std::string(5000, 'm')};
  const Picture picture = png_of({1, 2, 3, 4}, 2, 2, style);
  EXPECT_GE(picture.width, 600);
  EXPECT_LT(picture.width, 1600);  // long text is cut, not given room
  EXPECT_LT(picture.height, 1600);
}

TEST(HeatMap, RefusesCallsOutOfTurnAndRowsOfTheWrongShape) {
  const OwnedFile file(std::tmpfile());
  const auto refused = [](bool result) { return !result && errno == EINVAL; };
  HeatMap before_start(file.get(), PictureFormat::png, 2, 2, 1, {});
  EXPECT_TRUE(refused(before_start.add_row({0, 0}, 2)));
  HeatMap short_row(file.get(), PictureFormat::png, 2, 2, 1, {});
  ASSERT_TRUE(short_row.start());
  EXPECT_TRUE(refused(short_row.add_row({0}, 1)));
  HeatMap extra_row(file.get(), PictureFormat::png, 1, 2, 1, {});
  ASSERT_TRUE(extra_row.start());
  ASSERT_TRUE(extra_row.add_row({0, 0}, 2));
  EXPECT_TRUE(refused(extra_row.add_row({0, 0}, 2)));
  HeatMap missing_row(file.get(), PictureFormat::png, 2, 2, 1, {});
  ASSERT_TRUE(missing_row.start());
  ASSERT_TRUE(missing_row.add_row({0, 0}, 2));
  EXPECT_TRUE(refused(missing_row.finish()));
  EXPECT_TRUE(refused(HeatMap(file.get(), PictureFormat::png, -1, 2, 1, {}).start()));
  HeatMapStyle one_name;
  one_name.row_names = {"only one"};
  EXPECT_TRUE(refused(HeatMap(file.get(), PictureFormat::png, 2, 2, 1, one_name).start()));
}

TEST(HeatMap, AFailedWriteIsReported) {
  const std::vector<double> values{1, 0, -0.5, 0.25};
  for (const PictureFormat format : {PictureFormat::png, PictureFormat::svg, PictureFormat::pdf}) {
    const OwnedFile full(std::fopen("/dev/full", "w"));
    ASSERT_TRUE(full);
    errno = 0;
    EXPECT_FALSE(respmat::draw_heat_map(full.get(), format, values.data(), 2, 2, {}));
    EXPECT_EQ(errno, ENOSPC) << static_cast<int>(format);
  }
}


// ---- The layout: what the picture says, read before it is drawn.

using respmat::HeatMapCells;
using respmat::HeatMapLayout;

HeatMapLayout layout_of(std::int32_t rows, std::int32_t cols, double range, const HeatMapStyle &style,
                        PictureFormat format = PictureFormat::png) {
  const HeatMapCells cells{rows, cols, 1, 1, rows, cols, nullptr, range, false, false};
  const respmat::TextMeasure measure;
  return respmat::lay_out_heat_map(measure.context(), cells, style, format);
}

TEST(HeatMapLayout, TheColourBarIsLabelledWithItsUnitsAndTickedAtRoundValues) {
  HeatMapStyle style;
  style.quantity = "response";
  style.units = "orbit per unit kick";
  const HeatMapLayout layout = layout_of(36, 36, 0.47247222310000003, style);
  EXPECT_EQ(layout.bar_label, "response (orbit per unit kick)");
  std::vector<std::string> texts;
  for (const respmat::ScaleTick &tick : layout.bar_ticks) texts.push_back(tick.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"\u22120.4", "\u22120.3", "\u22120.2", "\u22120.1", "0", "0.1", "0.2",
                                             "0.3", "0.4"}));
  // Higher values stand higher, inside the bar.
  for (std::size_t k = 1; k < layout.bar_ticks.size(); ++k) EXPECT_LT(layout.bar_ticks[k].y, layout.bar_ticks[k - 1].y);
  EXPECT_GT(layout.bar_ticks.front().y, layout.bar.y + layout.bar.height / 2 + 200);

  style.quantity.clear();
  style.units.clear();
  EXPECT_EQ(layout_of(3, 3, 1500, style).bar_label, "");
  std::vector<double> values;
  for (const respmat::ScaleTick &tick : layout_of(3, 3, 1500, style).bar_ticks) values.push_back(tick.value);
  EXPECT_EQ(values, (std::vector<double>{-1500, -1000, -500, 0, 500, 1000, 1500}));
}

TEST(HeatMapLayout, NamesAreDrawnWhereTheyFitAndThinnedInRoundStepsWhereTheyDoNot) {
  HeatMapStyle style;
  for (int i = 0; i < 8; ++i) style.row_names.push_back("BPM" + std::to_string(i));
  for (int j = 0; j < 400; ++j) style.column_names.push_back("HCORRECTOR." + std::to_string(j));
  const HeatMapLayout layout = layout_of(8, 400, 1, style);
  std::vector<std::string> rows;
  for (const respmat::AxisLabel &label : layout.row_labels) rows.push_back(label.text);
  EXPECT_EQ(rows, style.row_names);
  // Upward names take a line each, some 17 points with the room between them, and
  // 400 columns take 2 points each: every 10th is named.
  ASSERT_GE(layout.column_labels.size(), 2u);
  const std::int32_t step = layout.column_labels[1].entry;
  EXPECT_EQ(step, 10);
  for (const respmat::AxisLabel &label : layout.column_labels) {
    EXPECT_EQ(label.entry % step, 0);
    EXPECT_EQ(label.text, style.column_names[static_cast<std::size_t>(label.entry)]);
  }
  EXPECT_FALSE(layout.column_labels_upright);
}

// A small matrix in SVG or PDF is a filled rectangle per cell; above kMaxVectorCells a
// side, one image.
TEST(HeatMapLayout, SmallMatricesAreDrawnAsOneVectorShapePerCell) {
  const auto svg_of = [](std::int32_t rows, std::int32_t cols) {
    const std::vector<double> values(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols), 0.5);
    const OwnedFile file(std::tmpfile());
    EXPECT_TRUE(respmat::draw_heat_map(file.get(), PictureFormat::svg, values.data(), rows, cols, {}));
    return respmat::testing::contents_of(file.get());
  };
  const auto count = [](const std::string &text, const std::string &what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  const std::string kFilledCell = "<path style=\" stroke:none;fill-rule:nonzero;fill:rgb(";
  EXPECT_EQ(count(svg_of(3, 4), kFilledCell), 12u);
  EXPECT_EQ(count(svg_of(300, 7), kFilledCell), 2100u);
  const std::string large = svg_of(301, 2);
  EXPECT_EQ(count(large, kFilledCell), 0u);
  EXPECT_EQ(count(large, "<image"), 1u);
  EXPECT_TRUE(layout_of(300, 300, 1, {}, PictureFormat::pdf).vector_cells);
  EXPECT_FALSE(layout_of(300, 300, 1, {}, PictureFormat::png).vector_cells);
}

}  // namespace
