// `tessamire scene <action>`: the actions, each in its own file, dispatched by scene.cpp.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "headless/host/tessamire_ids.h"

namespace cli {

using tessamire_ids::kBindButton;
using tessamire_ids::kTagId;

int RunSceneImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunSceneInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace cli
