// The bind tag's settings on the command line, shared by `run` and `apply`: declared once, with
// ranges and defaults that the plug-in's own description fills in, and set on a tag.
#pragma once

#include <optional>
#include <vector>

#include "cli/options.h"
#include "headless/batch/correction.h"
#include "headless/scene/scene.h"

namespace cli {

// --iterations, --weighting, --pin-border (when `withPinBorder`) and --strength.
std::vector<OptionSpec> TagSettingOptions(bool withPinBorder);

// The settings given in `options`.
headless::CorrectionSettings TagSettingsOf(const Options& options);

// --pose-check T|off: the pose guard's threshold in mean edge lengths.
OptionSpec PoseCheckOption();
// The threshold given (headless::kDefaultPoseThreshold when not), nullopt for off. Throws
// UsageError for anything but off or a number above 0.
std::optional<Float> PoseCheckOf(const Options& options);

// Sets on `tag` the settings given in `options`; the others keep the tag's defaults.
void ApplyTagSettings(const Options& options, headless::Node* tag);

}  // namespace cli
