// The heat map through its interface: the formats it writes, the colours of entries
// that are no number or zero by construction, what it refuses and failed writes.
#include "picture/heat_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <string>
#include <vector>

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

}  // namespace
