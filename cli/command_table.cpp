#include "cli/command_table.h"

namespace cli {

const std::vector<Subcommand>& CommandTable() {
  // One line per command, in the order of their names.
  static const std::vector<Subcommand> table = {
      ApplySubcommand(),        // apply
      BakeSubcommand(),         // bake
      CommandSubcommand(),      // command
      CorrectSubcommand(),      // correct
      EvalSubcommand(),         // eval
      InfoSubcommand(),         // info
      MeasureSubcommand(),      // measure
      RenderSubcommand(),       // render
      RunSubcommand(),          // run
      SceneImportSubcommand(),  // scene import
      SceneInfoSubcommand(),    // scene info
      SceneSetSubcommand(),     // scene set
      TuneSubcommand(),         // tune
      ViewSubcommand(),         // view
  };
  return table;
}

}  // namespace cli
