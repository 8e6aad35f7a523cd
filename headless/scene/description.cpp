#include "headless/scene/description.h"

#include <algorithm>
#include <cstdio>

namespace headless {

const char* ParameterTypeName(ParameterType type) {
  switch (type) {
    case ParameterType::kButton:
      return "button";
    case ParameterType::kString:
      return "string";
    case ParameterType::kInt32:
      return "int32";
    case ParameterType::kBool:
      return "bool";
    case ParameterType::kFloat:
      return "float";
    case ParameterType::kLink:
      return "link";
    case ParameterType::kInExclude:
      return "inexclude";
  }
  return "unknown";
}

std::optional<ParameterType> ParameterTypeFromName(const std::string& name) {
  static const ParameterType kAll[] = {ParameterType::kButton,   ParameterType::kString,
                                       ParameterType::kInt32,    ParameterType::kBool,
                                       ParameterType::kFloat,    ParameterType::kLink,
                                       ParameterType::kInExclude};
  for (const ParameterType type : kAll)
    if (name == ParameterTypeName(type)) return type;
  return std::nullopt;
}

const ParameterDescription* DescriptionData::Find(Int32 id) const {
  for (const ParameterDescription& p : parameters)
    if (p.id == id) return &p;
  return nullptr;
}

AcceptedRange RangeOf(const ParameterDescription& parameter) {
  if (parameter.type == ParameterType::kBool) return {0.0, 1.0};
  if (parameter.cycle.empty()) return {parameter.min, parameter.max};
  AcceptedRange range{parameter.cycle.front().value, parameter.cycle.front().value};
  for (const CycleEntry& c : parameter.cycle) {
    range.min = std::min<Float>(*range.min, c.value);
    range.max = std::max<Float>(*range.max, c.value);
  }
  return range;
}

namespace {

std::string FormatBound(Float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

}  // namespace

std::string AcceptedText(bool whole, const AcceptedRange& range) {
  const auto& [min, max] = range;
  if (whole && min && max && *max - *min == 1.0)
    return FormatBound(*min) + " or " + FormatBound(*max);
  const std::string text = whole ? "a whole number" : "a finite number";
  if (min && max) return text + " from " + FormatBound(*min) + " to " + FormatBound(*max);
  if (min) return text + " >= " + FormatBound(*min);
  if (max) return text + " <= " + FormatBound(*max);
  return text;
}

}  // namespace headless
