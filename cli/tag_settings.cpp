#include "cli/tag_settings.h"

#include "headless/scene/parameters.h"
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

void ApplyTagSettings(const Options& options, headless::Node* tag) {
  auto setInt = [&](const char* name, Int32 id) {
    if (const std::optional<Int64> n = options.Integer(name)) {
      headless::Value value;
      value.type = headless::ValueType::kInt32;
      value.int32 = static_cast<Int32>(*n);
      headless::SetParameter(tag, id, value);
    }
  };
  setInt("--iterations", TTESSAMIRE_ITERATIONS);
  setInt("--weighting", TTESSAMIRE_WEIGHTING);
  setInt("--pin-border", TTESSAMIRE_PINBORDER);
  if (const std::optional<Float> s = options.Number("--strength")) {
    headless::Value value;
    value.type = headless::ValueType::kFloat;
    value.real = *s;
    headless::SetParameter(tag, TTESSAMIRE_STRENGTH, value);
  }
}

}  // namespace cli
