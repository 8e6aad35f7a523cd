#include "cli/tag_settings.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "headless/job/settings_sweep.h"

#include "host/abi/ids.h"

namespace cli {

std::vector<OptionSpec> TagSettingOptions(bool withPinBorder) {
  std::vector<OptionSpec> options;
  OptionSpec iterations =
      IntegerOption("--iterations", "N",
                    "smoothing rounds of the bind tag: how far the smoothing reaches (about "
                    "the square root of N edges); it must reach across the detail to be "
                    "restored, and costs time in proportion",
                    {}, {});
  iterations.tagParameter = TTESSAMIRE_ITERATIONS;
  options.push_back(iterations);
  OptionSpec weighting =
      IntegerOption("--weighting", "W", "how each round weighs a point's neighbours", {}, {});
  weighting.tagParameter = TTESSAMIRE_WEIGHTING;
  options.push_back(weighting);
  if (withPinBorder) {
    OptionSpec pin =
        IntegerOption("--pin-border", "0|1",
                      "1 keeps the points of open borders in place while smoothing", {}, {});
    pin.tagParameter = TTESSAMIRE_PINBORDER;
    options.push_back(pin);
  }
  OptionSpec strength = NumberOption(
      "--strength", "S", "how far each round moves a point towards its neighbours' mean", {}, {});
  strength.tagParameter = TTESSAMIRE_STRENGTH;
  strength.float32 = true;
  options.push_back(strength);
  return options;
}

headless::CorrectionSettings TagSettingsOf(const Options& options) {
  headless::CorrectionSettings settings;
  auto whole = [&](const char* name) -> std::optional<Int32> {
    if (const std::optional<Int64> n = options.Integer(name)) return static_cast<Int32>(*n);
    return std::nullopt;
  };
  settings.iterations = whole("--iterations");
  settings.weighting = whole("--weighting");
  settings.pinBorder = whole("--pin-border");
  settings.strength = options.Number("--strength");
  return settings;
}

void ApplyTagSettings(const Options& options, headless::Node* tag) {
  headless::SetTagSettings(tag, TagSettingsOf(options));
}

OptionSpec PoseCheckOption() {
  return TextOption("--pose-check", "T|off",
                    "note once per run the frames where the correction moved the pose by more "
                    "than T mean edge lengths (checked every 20th frame), with the rounds that "
                    "keep the worst within it; off checks nothing",
                    "0.5");
}

std::optional<Float> PoseCheckOf(const Options& options) {
  if (!options.Has("--pose-check")) return headless::kDefaultPoseThreshold;
  const std::string text = options.Text("--pose-check");
  if (text == "off") return std::nullopt;
  char* end = nullptr;
  const Float value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(value > 0.0) || !std::isfinite(value))
    throw UsageError("--pose-check wants off or a number of mean edge lengths above 0, not " +
                     text);
  return value;
}

}  // namespace cli
