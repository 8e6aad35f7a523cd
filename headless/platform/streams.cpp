#include "headless/platform/streams.h"

#ifdef _WIN32
#include <windows.h>
// The headers below build on the declarations of windows.h.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#else
#include <stdio.h>
#include <unistd.h>
#endif

namespace headless::platform {

#ifdef _WIN32

void SetBinaryMode(std::FILE* stream) {
  _setmode(_fileno(stream), _O_BINARY);
}

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

#else

void SetBinaryMode(std::FILE*) {}

bool StderrIsTerminal() {
  return isatty(fileno(stderr)) != 0;
}

#endif

}  // namespace headless::platform
