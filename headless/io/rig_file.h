// A character's rig (headless/scene/rig.h) in a scene file, from version 4 on (the layout is in
// scene_file.h). Internal to the scene file.
#pragma once

#include "headless/io/scene_bytes.h"
#include "headless/scene/rig.h"

namespace headless {

void WriteRig(ByteWriter& w, const Rig& rig);

// Reads what WriteRig wrote, refusing through `r.Fail`, naming the fault, whatever no writer
// could use: an index outside what it refers to, a parent after its child, a tree deeper than
// kMaxRigDepth, a transform, colour, weight, time or key value that is not finite, times that do
// not increase, a clip ending before it starts, an unknown key path.
Rig ReadRig(ByteReader& r);

}  // namespace headless
