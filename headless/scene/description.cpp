#include "headless/scene/description.h"

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

}  // namespace headless
