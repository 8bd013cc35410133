// The charts through their layouts: round ticks and decades, the singular values'
// cut and legend, the names along the correction's panels, and a failed write.
#include "picture/chart.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <string>
#include <vector>

#include "picture/picture_file.h"
#include "picture/analysis_charts.h"
#include "picture/ticks.h"
#include "test_support.h"

namespace {

using respmat::ChartLayout;
using respmat::ChartTick;

std::vector<std::string> texts(const std::vector<ChartTick> &ticks) {
  std::vector<std::string> result;
  for (const ChartTick &tick : ticks) result.push_back(tick.text);
  return result;
}

ChartLayout layout_of(const respmat::Chart &chart) {
  const respmat::TextMeasure measure;
  return respmat::lay_out_chart(measure.context(), chart);
}

TEST(Ticks, LinearTicksStepByOneTwoOrFiveAndDecadesThinInTheSameSteps) {
  EXPECT_EQ(respmat::round_ticks(0, 1, 6), (std::vector<double>{0, 0.2, 0.4, 0.6, 0.8, 1}));
  EXPECT_EQ(respmat::round_ticks(-7, 23, 5), (std::vector<double>{0, 10, 20}));
  EXPECT_EQ(respmat::round_ticks(0.013, 0.0171, 5), (std::vector<double>{0.013, 0.014, 0.015, 0.016, 0.017}));
  EXPECT_EQ(respmat::round_ticks(2, 2, 5), (std::vector<double>{2}));
  EXPECT_TRUE(respmat::round_ticks(NAN, 1, 5).empty());
  // Scales at the ends of the doubles still get round ticks inside them.
  for (const double range : {1.7e308, 3e-310}) {
    const std::vector<double> ticks = respmat::round_ticks(-range, range, 9);
    EXPECT_GE(ticks.size(), 3u) << range;
    for (const double tick : ticks) EXPECT_TRUE(std::isfinite(tick) && std::fabs(tick) <= range) << range;
  }
  EXPECT_EQ(respmat::decade_ticks(-16, 2, 9), (std::vector<int>{-15, -10, -5, 0}));
  EXPECT_EQ(respmat::decade_ticks(-3, 1, 9), (std::vector<int>{-3, -2, -1, 0, 1}));
  EXPECT_EQ(respmat::tick_text(-0.4), "\u22120.4");
  EXPECT_EQ(respmat::tick_text(-0.0), "0");
  EXPECT_EQ(respmat::decade_text(-12), "10\u207B\u00B9\u00B2");
  EXPECT_EQ(respmat::decade_text(0), "1");
}

TEST(SingularValueChart, ShowsDecadesTheCutAndALegendOfKeptAndCut) {
  const std::vector<double> values{120, 30, 2.5, 0.04, 0.0009, 0};
  const respmat::Chart chart = respmat::singular_value_chart(values, 3);
  const ChartLayout layout = layout_of(chart);
  ASSERT_EQ(layout.panels.size(), 1u);
  const respmat::PanelLayout &panel = layout.panels[0];
  EXPECT_EQ(layout.title, "singular values of the response matrix");
  EXPECT_EQ(panel.y_title, "singular value");
  EXPECT_EQ(texts(panel.y_ticks), (std::vector<std::string>{"10\u207B\u2074", "10\u207B\u00B3", "10\u207B\u00B2",
                                                            "10\u207B\u00B9", "1", "10", "10\u00B2", "10\u00B3"}));
  EXPECT_EQ(panel.legend, (std::vector<std::string>{"kept (3)", "cut (3)"}));
  EXPECT_EQ(texts(panel.x_ticks), (std::vector<std::string>{"0", "1", "2", "3", "4", "5"}));
  // The cut lies halfway between the last kept value and the first cut one.
  ASSERT_TRUE(panel.cut_x);
  EXPECT_NEAR(*panel.cut_x, (panel.x_ticks[2].at + panel.x_ticks[3].at) / 2, 1);
  EXPECT_FALSE(layout_of(respmat::singular_value_chart(values, 6)).panels[0].cut_x);
}

TEST(CorrectionChart, NamesTheMonitorsAndCorrectorsAlongItsTwoPanels) {
  respmat::CorrectionValues values{"orbit correction", {}, {}, {}, {}, {}};
  for (int k = 0; k < 300; ++k) {
    values.monitors.push_back("BPM" + std::to_string(k));
    values.before.push_back(std::sin(k));
    values.after.push_back(0.1 * std::sin(k));
  }
  values.correctors = {"HC1", "HC2", "HC3"};
  values.change = {0.5, -0.25, 1};
  const ChartLayout layout = layout_of(respmat::correction_chart(values));
  ASSERT_EQ(layout.panels.size(), 2u);
  EXPECT_EQ(layout.panels[0].legend, (std::vector<std::string>{"before", "predicted after"}));
  const std::vector<std::string> monitors = texts(layout.panels[0].x_ticks);
  ASSERT_GE(monitors.size(), 10u);
  EXPECT_LT(monitors.size(), 100u);  // thinned
  EXPECT_EQ(monitors[0], "BPM0");
  EXPECT_EQ(monitors[1], "BPM" + std::to_string(static_cast<int>(layout.panels[0].x_ticks[1].value)));
  EXPECT_EQ(texts(layout.panels[1].x_ticks), values.correctors);
  EXPECT_EQ(texts(layout.panels[1].y_ticks).front(), "\u22120.2");
  EXPECT_GT(layout.panels[1].frame.y, layout.panels[0].frame.y + layout.panels[0].frame.height);

  const respmat::testing::OwnedFile full(std::fopen("/dev/full", "w"));
  errno = 0;
  EXPECT_FALSE(respmat::draw_chart(full.get(), respmat::PictureFormat::svg, respmat::correction_chart(values)));
  EXPECT_EQ(errno, ENOSPC);
}

}  // namespace
