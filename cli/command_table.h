// The program's table of subcommands, listed explicitly in command_table.cpp. Each subcommand's
// file defines one function answering its declaration and its run; a new subcommand adds its
// function here and one line to the table.
#pragma once

#include <vector>

#include "cli/subcommands.h"

namespace cli {

Subcommand ApplySubcommand();        // apply.cpp
Subcommand BakeSubcommand();         // bake.cpp
Subcommand CommandSubcommand();      // command.cpp
Subcommand CorrectSubcommand();      // correct.cpp
Subcommand EvalSubcommand();         // eval.cpp
Subcommand InfoSubcommand();         // info.cpp
Subcommand MeasureSubcommand();      // measure.cpp
Subcommand RenderSubcommand();       // render.cpp
Subcommand RunSubcommand();          // run.cpp
Subcommand SceneImportSubcommand();  // scene_import.cpp
Subcommand SceneInfoSubcommand();    // scene_info.cpp
Subcommand SceneSetSubcommand();     // scene_set.cpp
Subcommand TuneSubcommand();         // tune.cpp
Subcommand ViewSubcommand();         // view.cpp

// Every subcommand, in the order of the table.
const std::vector<Subcommand>& CommandTable();

}  // namespace cli
