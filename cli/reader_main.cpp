// `tessamire-reader`: reads one character file for `tessamire` or the Python module, in a
// process of its own (headless/io/character_reader.h), so that a crash inside the file's reader
// ends this process only. Its answer goes to the standard output in binary.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "headless/deformers/installation.h"
#include "headless/io/character_reader.h"
#include "headless/platform/files.h"
#include "headless/platform/paths.h"
#include "headless/platform/streams.h"

int main(int argc, char** argv) {
  headless::platform::FailWritesPastSizeLimit();
  headless::platform::SetBinaryMode(stdout);
  headless::InstallNativeDeformers();
  const std::vector<std::string> args = headless::platform::ProgramArguments(argc, argv);
  return headless::CharacterReaderMain(args, std::cout, std::cerr);
}
