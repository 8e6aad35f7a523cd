// Writes past the file size limit (ulimit -f) fail as writes: the program reports the system's
// reason and leaves no temporary file, instead of dying of SIGXFSZ (exit 153) with it left.
// POSIX only.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/limited_run.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

#ifndef _WIN32

struct Writer {
  const char* what;
  std::vector<std::string> arguments;  // "IN" and "OUT" stand for the input mesh and the output
};

TEST(FileSizeLimit, EveryWriterReportsFileTooLargeAndLeavesNothing) {
  TempFolder folder;
  // A mesh whose scene and results are far above the limit.
  std::ofstream mesh(folder.path / "grid.obj");
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) mesh << "v " << x << " " << y << " 0\n";
  for (int y = 0; y + 1 < 40; ++y)
    for (int x = 0; x + 1 < 40; ++x) {
      const int a = y * 40 + x + 1;
      mesh << "f " << a << " " << a + 1 << " " << a + 41 << " " << a + 40 << "\n";
    }
  mesh.close();
  const std::string in = (folder.path / "grid.obj").string();
  const Writer writers[] = {
      {"a scene", {"scene", "import", "IN", "--out", "OUT/grid.tsm"}},
      {"an OBJ result", {"apply", "--rest", "IN", "IN", "--out", "OUT"}},
      {"a point cache", {"apply", "--rest", "IN", "IN", "--out", "OUT/grid.pc2"}},
  };
  for (const Writer& w : writers) {
    SCOPED_TRACE(w.what);
    const fs::path out = folder.path / "out";
    fs::remove_all(out);
    fs::create_directories(out);
    std::vector<std::string> arguments;
    for (const std::string& a : w.arguments)
      arguments.push_back(a == "IN" ? in : a.starts_with("OUT") ? out.string() + a.substr(3) : a);
    const limited_run::Run run = limited_run::RunProgram(arguments, "", 8192);
    EXPECT_NE(run.status, -1) << "ended by a signal";
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
    for (const fs::directory_entry& left : fs::recursive_directory_iterator(out))
      ADD_FAILURE() << left.path() << " is left";
  }
}

#endif

}  // namespace
