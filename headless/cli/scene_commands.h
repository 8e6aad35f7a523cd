// `tessamire scene <action>`: the actions, each in its own file, dispatched by scene.cpp.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace cli {

// The bind tag's plug-in id, the id of its bind button and of its status text.
inline constexpr int kBindTagType = 1035496;
inline constexpr int kBindButton = 1000;

int RunSceneImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunSceneInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace cli
