// What a user does with a node's parameters through the host's interface: list them with their
// descriptions and values, set one, press a button. Unlike the raw parameter entries of the host
// table (which the plug-in itself uses), these consult the plug-in's IsParameterEnabled the way
// the host's attribute view does, and refuse to change a disabled parameter.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "headless/scene/description.h"
#include "headless/scene/scene.h"

namespace headless {

// The description the host shows for a node: the plug-in's own when its DescribeParameters
// sets DESCFLAGS_DESC_LOADED, else the one registered for its type. False when there is none.
bool DescribeNode(Node* node, DescriptionData& out);

// The plug-in's answer for parameter `id` of `node` (true for nodes without a plug-in instance).
bool IsParameterEnabled(Node* node, Int32 id);

struct ParameterRow {
  Int32 id = 0;
  std::string ident;  // empty when the node's description does not declare the id
  std::string label;
  std::optional<ParameterType> type;  // from the description
  std::optional<Value> value;         // empty when the node holds no value (buttons)
  bool enabled = true;
};

// The parameters of the node's description in description order, then any value the node holds
// that the description does not declare, in id order.
std::vector<ParameterRow> ListParameters(Node* node);

// A value as text: int32 and float (%.17g) as numbers, strings quoted, links and list entries by
// the target's name (or "<none>"/"<deleted>").
std::string FormatValue(const Value& value);

// Sets parameter `id` as a user would. Throws std::invalid_argument, changing nothing, when the
// parameter is disabled, is a button, or the value's type differs from the declared one.
void SetParameter(Node* node, Int32 id, const Value& value);

// Presses button `id`: message 18 with a DescriptionCommand carrying the id, delivered through
// the host table's node message. Answers the plug-in's result. Throws std::invalid_argument when
// the node's description declares `id` as something other than a button, or it is disabled.
bool PressButton(Node* node, Int32 id);

}  // namespace headless
