// Parameter descriptions: what the host shows of a node type's parameters (ids, types,
// identifiers, labels, ranges, defaults, choices). The host reads them from a plug-in's resources
// (headless/entries/resources.h) and registers them by plug-in type (registry.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/abi/types.h"

namespace headless {

enum class ParameterType { kButton, kString, kInt32, kBool, kFloat, kLink, kInExclude };
const char* ParameterTypeName(ParameterType type);
std::optional<ParameterType> ParameterTypeFromName(const std::string& name);

struct CycleEntry {
  Int32 value = 0;
  std::string label;
};

// One parameter of a description.
struct ParameterDescription {
  Int32 id = 0;
  ParameterType type = ParameterType::kInt32;
  std::string ident;  // e.g. TTESSAMIRE_ITERATIONS
  std::string label;
  std::optional<Float> min;
  std::optional<Float> max;
  std::optional<Float> step;
  std::optional<std::string> defaultValue;  // as written in the file
  std::optional<Int32> accept;              // link: accepted node type
  std::vector<CycleEntry> cycle;            // int32: the choices, in file order
};

// A parameter description (the plug-in's Description handle points at one).
struct DescriptionData {
  std::string name;
  std::vector<ParameterDescription> parameters;

  const ParameterDescription* Find(Int32 id) const;
};

// The values a described number accepts: an int32's or a float's `min` and `max`, a bool's 0 and
// 1, a cycle's smallest and largest value; either end may be open.
struct AcceptedRange {
  std::optional<Float> min;
  std::optional<Float> max;
};
AcceptedRange RangeOf(const ParameterDescription& parameter);

// How messages that refuse a value name what is accepted: "a whole number from 0 to 1000", "0 or
// 1", "a finite number >= 0", "a whole number".
std::string AcceptedText(bool whole, const AcceptedRange& range);

}  // namespace headless
