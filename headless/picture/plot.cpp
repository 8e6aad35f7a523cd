#include "headless/picture/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace headless {
namespace {

struct Axis {
  Float lo = 0.0;
  Float hi = 1.0;
  Float step = 0.2;
};

// Whole steps of 1, 2 or 5 x 10^k covering [lo, hi] in about five ticks.
Axis NiceAxis(Float lo, Float hi) {
  if (!(hi > lo)) {
    lo -= 1.0;
    hi += 1.0;
  }
  const Float raw = (hi - lo) / 5.0;
  const Float magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const Float fraction = raw / magnitude;
  const Float step = (fraction <= 1.0   ? 1.0
                      : fraction <= 2.0 ? 2.0
                      : fraction <= 5.0 ? 5.0
                                        : 10.0) *
                     magnitude;
  Axis a;
  a.step = step;
  a.lo = std::floor(lo / step + 1e-9) * step;
  a.hi = std::ceil(hi / step - 1e-9) * step;
  return a;
}

std::string TickLabel(Float value, Float step) {
  const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
  if (std::fabs(value) < step * 1e-6) value = 0.0;  // no "-0"
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

void DrawPanel(Image& image, Int32 left, const std::vector<Float>& x, const PlotPanel& panel,
               const PlotOptions& o) {
  const Int32 s = o.fontScale;
  const Int32 charH = kGlyphHeight * s;
  // Plot area inside the panel, leaving room for the title, tick labels and the x label.
  const Int32 plotLeft = left + 10 * s + 8 * kGlyphAdvance * s;
  const Int32 plotRight = left + o.panelWidth - 3 * kGlyphAdvance * s;
  const Int32 plotTop = 8 * s + charH + 6 * s;
  const Int32 plotBottom = o.panelHeight - (2 * charH + 12 * s);
  const Int32 plotW = plotRight - plotLeft;
  const Int32 plotH = plotBottom - plotTop;

  Float xMin = x.front();
  Float xMax = x.front();
  for (Float v : x) {
    xMin = std::min(xMin, v);
    xMax = std::max(xMax, v);
  }
  Float yMin = 0.0;
  Float yMax = 0.0;
  for (const PlotSeries& series : panel.series)
    for (Float v : series.values)
      if (std::isfinite(v)) {
        yMin = std::min(yMin, v);
        yMax = std::max(yMax, v);
      }
  const Axis xAxis = NiceAxis(xMin, xMax);
  const Axis yAxis = NiceAxis(yMin, yMax);
  auto px = [&](Float v) { return plotLeft + (v - xAxis.lo) / (xAxis.hi - xAxis.lo) * plotW; };
  auto py = [&](Float v) { return plotBottom - (v - yAxis.lo) / (yAxis.hi - yAxis.lo) * plotH; };

  DrawText(image, left + (o.panelWidth - TextWidth(panel.title, s)) / 2, 8 * s, panel.title, o.ink,
           s);
  // Grid and tick labels; ticks are counted, not accumulated, so no drift adds a stray tick.
  const Int64 yTicks = std::llround((yAxis.hi - yAxis.lo) / yAxis.step);
  for (Int64 k = 0; k <= yTicks; ++k) {
    const Float v = yAxis.lo + static_cast<Float>(k) * yAxis.step;
    const Int32 y = static_cast<Int32>(std::lround(py(v)));
    FillRect(image, plotLeft, y, plotW, 1, o.grid);
    const std::string label = TickLabel(v, yAxis.step);
    DrawText(image, plotLeft - 6 * s - TextWidth(label, s), y - charH / 2, label, o.ink, s);
  }
  const Int64 xTicks = std::llround((xAxis.hi - xAxis.lo) / xAxis.step);
  for (Int64 k = 0; k <= xTicks; ++k) {
    const Float v = xAxis.lo + static_cast<Float>(k) * xAxis.step;
    const Int32 xp = static_cast<Int32>(std::lround(px(v)));
    FillRect(image, xp, plotTop, 1, plotH, o.grid);
    FillRect(image, xp, plotBottom, 1, 4 * s / 2, o.ink);
    const std::string label = TickLabel(v, xAxis.step);
    DrawText(image, xp - TextWidth(label, s) / 2, plotBottom + 4 * s, label, o.ink, s);
  }
  DrawText(image, plotLeft + (plotW - TextWidth(o.xLabel, s)) / 2, plotBottom + charH + 8 * s,
           o.xLabel, o.ink, s);
  // Axes.
  FillRect(image, plotLeft, plotTop, 1, plotH + 1, o.ink);
  FillRect(image, plotLeft, plotBottom, plotW + 1, 1, o.ink);

  for (const PlotSeries& series : panel.series) {
    for (size_t i = 0; i < x.size(); ++i) {
      const Float v = series.values[i];
      if (!std::isfinite(v)) continue;
      if (i + 1 < x.size() && std::isfinite(series.values[i + 1]))
        DrawLine(image, px(x[i]), py(v), px(x[i + 1]), py(series.values[i + 1]), series.color, s);
      const Int32 m = 2 * s + 1;
      FillRect(image, static_cast<Int32>(std::lround(px(x[i]))) - m / 2,
               static_cast<Int32>(std::lround(py(v))) - m / 2, m, m, series.color);
    }
  }

  // Legend in the plot area's top-left corner, on the background so lines never hide it.
  Int32 legendW = 0;
  for (const PlotSeries& series : panel.series)
    legendW = std::max(legendW, TextWidth(series.name, s));
  if (!panel.series.empty()) {
    const Int32 rowH = charH + 4 * s;
    const Int32 boxW = legendW + 22 * s;
    const Int32 boxH = static_cast<Int32>(panel.series.size()) * rowH + 4 * s;
    const Int32 bx = plotLeft + 6 * s;
    const Int32 by = plotTop + 4 * s;
    FillRect(image, bx, by, boxW, boxH, o.background);
    FillRect(image, bx, by, boxW, 1, o.grid);
    FillRect(image, bx, by + boxH - 1, boxW, 1, o.grid);
    FillRect(image, bx, by, 1, boxH, o.grid);
    FillRect(image, bx + boxW - 1, by, 1, boxH, o.grid);
    for (size_t k = 0; k < panel.series.size(); ++k) {
      const Int32 ry = by + 4 * s + static_cast<Int32>(k) * rowH;
      FillRect(image, bx + 4 * s, ry + charH / 2 - s / 2 - 1, 12 * s, s + 1, panel.series[k].color);
      DrawText(image, bx + 18 * s, ry, panel.series[k].name, o.ink, s);
    }
  }
}

}  // namespace

Image PlotPanels(const std::vector<Float>& x, const std::vector<PlotPanel>& panels,
                 const PlotOptions& o) {
  const std::string where = "PlotPanels: ";
  if (panels.empty()) throw std::invalid_argument(where + "no panels to draw");
  if (x.empty()) throw std::invalid_argument(where + "no x values");
  for (Float v : x)
    if (!std::isfinite(v)) throw std::invalid_argument(where + "an x value is not finite");
  for (const PlotPanel& panel : panels)
    for (const PlotSeries& series : panel.series)
      if (series.values.size() != x.size())
        throw std::invalid_argument(where + "series '" + series.name + "' of panel '" +
                                    panel.title + "' has " + std::to_string(series.values.size()) +
                                    " values for " + std::to_string(x.size()) + " x values");
  if (o.fontScale < 1) throw std::invalid_argument(where + "font scale must be >= 1");
  const Int32 s = o.fontScale;
  const Int32 minW = 10 * s + 11 * kGlyphAdvance * s + 40;
  const Int32 minH = 8 * s + kGlyphHeight * s + 6 * s + 2 * kGlyphHeight * s + 12 * s + 40;
  if (o.panelWidth < minW || o.panelHeight < minH ||
      static_cast<Int64>(o.panelWidth) * static_cast<Int64>(panels.size()) > kMaxImageSide ||
      o.panelHeight > kMaxImageSide)
    throw std::invalid_argument(where + "panel size " + std::to_string(o.panelWidth) + " x " +
                                std::to_string(o.panelHeight) + " cannot hold the axes (at least " +
                                std::to_string(minW) + " x " + std::to_string(minH) + ")");
  Image image =
      MakeImage(o.panelWidth * static_cast<Int32>(panels.size()), o.panelHeight, o.background);
  for (size_t k = 0; k < panels.size(); ++k)
    DrawPanel(image, o.panelWidth * static_cast<Int32>(k), x, panels[k], o);
  return image;
}

}  // namespace headless
