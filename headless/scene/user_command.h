// A registered command run on a document the way a user picks it from the host's menu: the named
// objects and tags are the selection (what the document had selected is cleared), the modifier
// keys are held and the document is the active one while the command is asked for its menu state
// and run, and let go when it returns or fails. The command must be enabled for that selection.
// Behind `tessamire command`; the main job's setup runs go through RunSetupCommand
// (headless/job/main_job.h).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "headless/scene/scene.h"

namespace headless {

struct UserCommand {
  Int32 id = 0;  // a registered command's
  // The objects to select, each by its name (which only one object of the document may have).
  std::vector<std::string> objects;
  // The tags to select, each as OBJECT:INDEX, the tag at 0-based INDEX in the tag list of the
  // object called OBJECT.
  std::vector<std::string> tags;
  bool shift = false;
  bool ctrl = false;
};

struct CommandOutcome {
  std::string label;  // "command <id> (<its name>)", how messages name it
  // Objects and tags the command added: the count after less the count before, unsigned (a
  // command that removes nodes wraps around).
  size_t objectsAdded = 0;
  size_t tagsAdded = 0;
  Int32 undoGroupsBefore = 0;  // the document's undo groups before the command ran
};

// Selects, holds the keys, and runs the command. Throws std::invalid_argument naming the fault of
// a selection (no object or several of a name, a malformed OBJECT:INDEX, no such tag) or an id
// that names no registered command, std::runtime_error when the command is disabled for the
// selection or answers false.
CommandOutcome RunUserCommand(Document& doc, const UserCommand& command);

// Undoes the undo group the command recorded, as the user's undo right after it does. Answers
// false, changing nothing, when it recorded none; throws std::runtime_error when the group cannot
// be undone.
bool UndoUserCommand(Document& doc, const CommandOutcome& outcome);

}  // namespace headless
