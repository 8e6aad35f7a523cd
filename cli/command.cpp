// `tessamire command ID --select NAME [--select-tag OBJ:INDEX] [--shift] [--ctrl] SCENE --out
// FILE [--undo]`: runs a registered command on a scene the way a user picks it from the host's
// menu: the named objects and tags are the selection (what the file had selected is cleared),
// the modifier keys are held, the command must be enabled for that selection, and its result is
// saved. With --undo the command's undo group is undone before saving, which shows the scene
// as the user sees it after one undo.
#include <charconv>
#include <memory>
#include <stdexcept>

#include "cli/subcommands.h"
#include "headless/host/selection.h"
#include "headless/host/undo.h"
#include "headless/io/scene_file.h"

namespace cli {
namespace {

constexpr const char* kName = "tessamire command";

struct CommandOptions {
  Int32 id = 0;
  std::vector<std::string> objects;  // --select, in order
  std::vector<std::string> tags;     // --select-tag OBJ:INDEX, in order
  Int32 qualifier = 0;
  bool undo = false;
  std::string scene;
  std::string out;
  std::string plugins;
};

bool ParseInt32(const std::string& text, Int32& value) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

// Repeatable options are read here; ParseArgs keeps one value per option.
bool ParseCommandArgs(const std::vector<std::string>& args, CommandOptions& options,
                      std::string& error) {
  std::vector<std::string> positional;
  bool haveOut = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool valued = a == "--select" || a == "--select-tag" || a == "--out" || a == "--plugins";
    if (valued && i + 1 >= args.size()) {
      error = "option " + a + " needs a value";
      return false;
    }
    if (a == "--select") {
      options.objects.push_back(args[++i]);
    } else if (a == "--select-tag") {
      options.tags.push_back(args[++i]);
    } else if (a == "--out") {
      options.out = args[++i];
      haveOut = true;
    } else if (a == "--plugins") {
      options.plugins = args[++i];
    } else if (a == "--shift") {
      options.qualifier |= QSHIFT;
    } else if (a == "--ctrl") {
      options.qualifier |= QCTRL;
    } else if (a == "--undo") {
      options.undo = true;
    } else if (a.size() >= 2 && a.compare(0, 2, "--") == 0) {
      error = "unknown option " + a;
      return false;
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 2) {
    error = "needs a command ID and one SCENE file";
    return false;
  }
  if (!ParseInt32(positional[0], options.id)) {
    error = "command ID \"" + positional[0] + "\" is not an integer";
    return false;
  }
  options.scene = positional[1];
  if (!haveOut || options.out.empty()) {
    error = "needs --out FILE";
    return false;
  }
  return true;
}

// The only object called `name`.
headless::Node* UniqueObject(const headless::Document& doc, const std::string& name) {
  headless::Node* found = nullptr;
  for (headless::Node* op : doc.Objects()) {
    if (op->name != name) continue;
    if (found != nullptr)
      throw std::invalid_argument("more than one object is called \"" + name + "\"");
    found = op;
  }
  if (found == nullptr) throw std::invalid_argument("no object is called \"" + name + "\"");
  return found;
}

// OBJ:INDEX names the tag at 0-based INDEX in the tag list of object OBJ.
headless::Node* TagByReference(const headless::Document& doc, const std::string& reference) {
  const size_t colon = reference.rfind(':');
  Int32 index = -1;
  if (colon == std::string::npos || !ParseInt32(reference.substr(colon + 1), index) || index < 0)
    throw std::invalid_argument("--select-tag \"" + reference + "\" is not OBJECT:INDEX");
  headless::Node* object = UniqueObject(doc, reference.substr(0, colon));
  const std::vector<headless::Node*> tags = headless::Document::Tags(object);
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

Counts CountNodes(const headless::Document& doc) {
  Counts counts;
  for (const headless::Node* op : doc.Objects()) {
    ++counts.objects;
    counts.tags += headless::Document::Tags(op).size();
  }
  return counts;
}

// Loads, selects, runs and saves; throws with a message naming the fault.
void RunOnScene(const CommandOptions& options, std::ostream& out) {
  std::unique_ptr<headless::Document> doc = headless::LoadScene(options.scene);
  headless::ClearSelection(*doc);
  for (const std::string& name : options.objects)
    headless::SetSelected(UniqueObject(*doc, name), true);
  for (const std::string& reference : options.tags)
    headless::SetSelected(TagByReference(*doc, reference), true);

  headless::SetKeyboardQualifier(options.qualifier);
  headless::SetActiveDocument(doc.get());
  struct ActiveReset {
    ~ActiveReset() { headless::SetActiveDocument(nullptr); }
  } activeReset;

  const std::string label = "command " + std::to_string(options.id);
  if (!headless::IsCommandEnabled(options.id))
    throw std::runtime_error(label + " is disabled for this selection");
  const Counts before = CountNodes(*doc);
  const Int32 groupsBefore = headless::UndoCount(*doc);
  if (!headless::ExecuteCommand(options.id))
    throw std::runtime_error(label + " failed; nothing written");
  const Counts after = CountNodes(*doc);
  out << label << ": done, " << (after.objects - before.objects) << " objects and "
      << (after.tags - before.tags) << " tags added\n";
  if (options.undo) {
    if (headless::UndoCount(*doc) == groupsBefore) {
      out << label << ": recorded nothing to undo\n";
    } else if (!headless::Undo(*doc)) {
      throw std::runtime_error(label + ": its undo group could not be undone");
    } else {
      out << label << ": undone\n";
    }
  }
  headless::SaveScene(*doc, options.out);
  out << options.out << ": saved\n";
}

int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CommandOptions options;
  std::string error;
  if (!ParseCommandArgs(args, options, error)) {
    err << kName << ": " << error << "\n";
    return kExitUsage;
  }
  headless::PluginFolder folder;
  if (!StartPlugins(options.plugins, folder, err)) return kExitFailure;
  int code = kExitOk;
  try {
    RunOnScene(options, out);
  } catch (const std::exception& e) {
    err << kName << ": " << e.what() << "\n";
    code = kExitFailure;
  }
  headless::SetKeyboardQualifier(0);
  folder.Close();
  return code;
}

const SubcommandRegistration kCommand(
    {"command",
     "command ID --select NAME [--select NAME ...] [--select-tag OBJECT:INDEX ...] [--shift] "
     "[--ctrl] SCENE --out FILE [--undo] [--plugins DIR]",
     "run registered command ID on SCENE with the named objects (and tags: 0-based index in the "
     "object's tag list) selected and the modifier keys held, and save the result to FILE; "
     "--undo undoes the command's undo group before saving (the scene file keeps no undo "
     "history). Fails, writing nothing, when the command is disabled or answers false",
     RunCommand});

}  // namespace
}  // namespace cli
