// Line plots as pictures: one or more panels side by side sharing the x values (e.g. frames),
// each with its title, axes with tick labels, light grid lines, its series as lines with point
// markers, and a legend; drawn with the tiny built-in font.
//
// Axis ranges: x spans the smallest to the largest x value; y spans the finite values and 0,
// both widened to whole tick steps (1, 2 or 5 times a power of ten, about
// five ticks). A constant range is widened by one unit each way. Values that are not finite are
// left out, breaking the line there.
#pragma once

#include <string>
#include <vector>

#include "headless/picture/image.h"
#include "host/abi/types.h"

namespace headless {

struct PlotSeries {
  std::string name;           // shown in the legend
  std::vector<Float> values;  // one per x value
  Rgb color{200, 60, 60};
};

struct PlotPanel {
  std::string title;
  std::vector<PlotSeries> series;
};

struct PlotOptions {
  Int32 panelWidth = 560;
  Int32 panelHeight = 380;
  std::string xLabel = "frame";
  Int32 fontScale = 2;
  Rgb background{255, 255, 255};
  Rgb ink{40, 40, 40};
  Rgb grid{225, 225, 225};
};

// The panels side by side, left to right. Throws std::invalid_argument naming the fault for no
// panels, no x values, a series whose length differs from the x values', a non-finite x value,
// or a panel too small to hold its axes.
Image PlotPanels(const std::vector<Float>& x, const std::vector<PlotPanel>& panels,
                 const PlotOptions& options = {});

}  // namespace headless
