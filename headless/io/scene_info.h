// What a scene file holds, as the lines `tessamire scene info` prints: its frame rate; objects in
// tree order (children indented beneath their parent) with type, name, point and polygon counts;
// their tags with every parameter (id, identifier, label, value, enabled or disabled as the
// plug-in answers); for each bind tag its stored state: bound, difference count and the FNV-1a 64
// of the differences' bytes (three little-endian float64 per difference, in point order); a skin's
// joints and maps, a joint's transforms and keys; a character's rig as counts.
#pragma once

#include <string>
#include <vector>

#include "headless/scene/scene.h"

namespace headless {

// The lines without their ends; `path` names the scene in the first. Throws std::runtime_error
// naming `path` when a bind tag's stored state cannot be decoded or a joint's keys are corrupt.
std::vector<std::string> SceneInfoLines(const Document& doc, const std::string& path);

}  // namespace headless
