#include "headless/scene/user_command.h"

#include <charconv>
#include <stdexcept>

#include "headless/scene/registry.h"
#include "headless/scene/selection.h"
#include "headless/scene/undo.h"

namespace headless {
namespace {

bool ParseInt32(const std::string& text, Int32& value) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

// The only object called `name`.
Node* UniqueObject(const Document& doc, const std::string& name) {
  Node* found = nullptr;
  for (Node* op : doc.Objects()) {
    if (op->name != name) continue;
    if (found != nullptr)
      throw std::invalid_argument("more than one object is called \"" + name + "\"");
    found = op;
  }
  if (found == nullptr) throw std::invalid_argument("no object is called \"" + name + "\"");
  return found;
}

// OBJ:INDEX names the tag at 0-based INDEX in the tag list of object OBJ.
Node* TagByReference(const Document& doc, const std::string& reference) {
  const size_t colon = reference.rfind(':');
  Int32 index = -1;
  if (colon == std::string::npos || !ParseInt32(reference.substr(colon + 1), index) || index < 0)
    throw std::invalid_argument("--select-tag \"" + reference + "\" is not OBJECT:INDEX");
  Node* object = UniqueObject(doc, reference.substr(0, colon));
  const std::vector<Node*> tags = Document::Tags(object);
  if (static_cast<size_t>(index) >= tags.size())
    throw std::invalid_argument("object \"" + object->name + "\" has " +
                                std::to_string(tags.size()) + " tags, no tag " +
                                std::to_string(index));
  return tags[static_cast<size_t>(index)];
}

struct Counts {
  size_t objects = 0;
  size_t tags = 0;
};

Counts CountNodes(const Document& doc) {
  Counts counts;
  for (const Node* op : doc.Objects()) {
    ++counts.objects;
    counts.tags += Document::Tags(op).size();
  }
  return counts;
}

// The keys held and the document active for as long as it lives.
class HeldInput {
 public:
  HeldInput(Document& doc, Int32 qualifier) {
    SetKeyboardQualifier(qualifier);
    SetActiveDocument(&doc);
  }
  HeldInput(const HeldInput&) = delete;
  HeldInput& operator=(const HeldInput&) = delete;
  ~HeldInput() {
    SetActiveDocument(nullptr);
    SetKeyboardQualifier(0);
  }
};

}  // namespace

CommandOutcome RunUserCommand(Document& doc, const UserCommand& command) {
  ClearSelection(doc);
  for (const std::string& name : command.objects) SetSelected(UniqueObject(doc, name), true);
  for (const std::string& reference : command.tags)
    SetSelected(TagByReference(doc, reference), true);
  const HeldInput held(doc, (command.shift ? QSHIFT : 0) | (command.ctrl ? QCTRL : 0));

  Registration registration;
  FindRegistration(command.id, registration);
  CommandOutcome outcome;
  outcome.label = "command " + std::to_string(command.id) + " (" + registration.name + ")";
  if (!IsCommandEnabled(command.id))
    throw std::runtime_error(outcome.label + " is disabled for this selection");
  const Counts before = CountNodes(doc);
  outcome.undoGroupsBefore = UndoCount(doc);
  if (!ExecuteCommand(command.id))
    throw std::runtime_error(outcome.label + " failed; nothing written");
  const Counts after = CountNodes(doc);
  outcome.objectsAdded = after.objects - before.objects;
  outcome.tagsAdded = after.tags - before.tags;
  return outcome;
}

bool UndoUserCommand(Document& doc, const CommandOutcome& outcome) {
  if (UndoCount(doc) == outcome.undoGroupsBefore) return false;
  if (!Undo(doc)) throw std::runtime_error(outcome.label + ": its undo group could not be undone");
  return true;
}

}  // namespace headless
