#include "headless/scene/parameters.h"

#include <cstdio>
#include <set>
#include <stdexcept>

#include "headless/scene/registry.h"
#include "host/abi/plugin_base.h"

namespace headless {
namespace {

std::string Describe(const Node* node, Int32 id, const ParameterDescription* p) {
  std::string text = "parameter " + std::to_string(id);
  if (p != nullptr && !p->ident.empty()) text += " (" + p->ident + ")";
  text += " of " + std::string(node->isTag ? "tag" : "object");
  if (!node->name.empty()) text += " '" + node->name + "'";
  return text;
}

bool TypeMatches(ParameterType declared, ValueType held) {
  switch (declared) {
    case ParameterType::kInt32:
    case ParameterType::kBool:
      return held == ValueType::kInt32;
    case ParameterType::kFloat:
      return held == ValueType::kFloat;
    case ParameterType::kString:
      return held == ValueType::kString;
    case ParameterType::kLink:
      return held == ValueType::kLink;
    case ParameterType::kInExclude:
      return held == ValueType::kInExclude;
    case ParameterType::kButton:
      return false;
  }
  return false;
}

std::string TargetName(UInt64 serial) {
  if (serial == 0) return "<none>";
  const Node* target = FindLiveNode(serial);
  if (target == nullptr) return "<deleted>";
  return "'" + target->name + "'";
}

}  // namespace

bool DescribeNode(Node* node, DescriptionData& out) {
  if (node == nullptr) return false;
  if (node->instance != nullptr) {
    DescriptionData own;
    Int32 flags = 0;
    bool described = false;
    try {
      described = node->instance->CallDescribeParameters(
          ToList(node), reinterpret_cast<Description*>(&own), &flags);
    } catch (...) {
      described = false;
    }
    if (described && (flags & DESCFLAGS_DESC_LOADED) != 0) {
      out = std::move(own);
      return true;
    }
  }
  return FindDescription(node->type, out);
}

bool IsParameterEnabled(Node* node, Int32 id) {
  if (node == nullptr || node->instance == nullptr) return true;
  const Value* value = node->params.Find(id);
  try {
    return node->instance->CallIsParameterEnabled(ToList(node), id, value, 0, nullptr);
  } catch (...) {
    return true;
  }
}

std::vector<ParameterRow> ListParameters(Node* node) {
  std::vector<ParameterRow> rows;
  if (node == nullptr) return rows;
  DescriptionData description;
  std::set<Int32> described;
  if (DescribeNode(node, description)) {
    for (const ParameterDescription& p : description.parameters) {
      ParameterRow row;
      row.id = p.id;
      row.ident = p.ident;
      row.label = p.label;
      row.type = p.type;
      if (const Value* v = node->params.Find(p.id)) row.value = *v;
      row.enabled = IsParameterEnabled(node, p.id);
      rows.push_back(std::move(row));
      described.insert(p.id);
    }
  }
  for (const auto& [id, value] : node->params.Entries()) {
    if (described.count(id) != 0) continue;
    ParameterRow row;
    row.id = id;
    row.value = value;
    row.enabled = IsParameterEnabled(node, id);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string FormatValue(const Value& value) {
  switch (value.type) {
    case ValueType::kInt32:
      return std::to_string(value.int32);
    case ValueType::kFloat: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.17g", value.real);
      return buf;
    }
    case ValueType::kString:
      return "\"" + value.text + "\"";
    case ValueType::kLink:
      return "link " + TargetName(value.link.target);
    case ValueType::kInExclude: {
      std::string text = "[";
      for (size_t i = 0; i < value.list.targets.size(); ++i)
        text += (i == 0 ? "" : ", ") + TargetName(value.list.targets[i]);
      return text + "]";
    }
  }
  return "?";
}

void SetParameter(Node* node, Int32 id, const Value& value) {
  if (node == nullptr) throw std::invalid_argument("SetParameter: no node given");
  DescriptionData description;
  const ParameterDescription* p = DescribeNode(node, description) ? description.Find(id) : nullptr;
  if (p != nullptr && p->type == ParameterType::kButton)
    throw std::invalid_argument(Describe(node, id, p) + " is a button: press it instead");
  if (p != nullptr && !TypeMatches(p->type, value.type))
    throw std::invalid_argument(Describe(node, id, p) + " is declared " +
                                ParameterTypeName(p->type) + ", not " + ValueTypeName(value.type));
  if (!IsParameterEnabled(node, id))
    throw std::invalid_argument(Describe(node, id, p) + " is disabled and cannot be changed");
  node->params.Set(id, value);
}

bool PressButton(Node* node, Int32 id) {
  if (node == nullptr) throw std::invalid_argument("PressButton: no node given");
  DescriptionData description;
  const ParameterDescription* p = DescribeNode(node, description) ? description.Find(id) : nullptr;
  if (p != nullptr && p->type != ParameterType::kButton)
    throw std::invalid_argument(Describe(node, id, p) + " is not a button");
  if (!IsParameterEnabled(node, id))
    throw std::invalid_argument(Describe(node, id, p) + " is disabled and cannot be pressed");
  DescriptionCommand command;
  command.id = id;
  return DeliverMessage(node, MSG_DESCRIPTION_COMMAND, &command);
}

}  // namespace headless
