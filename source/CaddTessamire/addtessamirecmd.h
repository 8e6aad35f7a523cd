// The setup command: equips every selected polygon object with a bind tag and, by the modifier
// keys held, a deformer under the object (Shift) or under its parent (Ctrl), in one undo group.
#pragma once

#include "host/abi/plugin_base.h"

// Where the deformers go, from the keyboard qualifier word.
enum class Placement { kTagOnly = -1, kUnderObject = 0, kUnderParent = 1 };

// Exactly Shift: under the object; exactly Ctrl: under the parent; anything else: tag only.
Placement PlacementFromQualifier(Int32 qualifier);

class ADDTESSAMIRECMD : public CommandData {
 protected:
  Bool Execute(BaseDocument* doc) override;
  Int32 GetState(BaseDocument* doc) override;
};
