// The command line's conventions, each checked by starting the real program: --version, both
// option forms, usage errors naming the option with the command's own usage, --help with meaning,
// range and default (the bind tag's from the plug-in), ranges enforced, progress as plain lines
// off a terminal, Ctrl-C leaving no half-written output, `-` for the standard streams, output
// folders created only under an existing parent, --threads, and where plug-ins are looked for.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "headless/geometry/primitives.h"
#include "headless/io/obj_read.h"
#include "headless/io/obj_write.h"
#include "tests/support/build_paths.h"
#include "tests/support/cli_runner.h"
#include "tests/support/deform_scene.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// `text` with every run of blanks and line ends as one space, as help text reads once unwrapped.
std::string Flat(const std::string& text) {
  std::string flat;
  for (char c : text) {
    const bool blank = c == ' ' || c == '\n';
    if (!blank || flat.empty() || flat.back() != ' ') flat.push_back(blank ? ' ' : c);
  }
  return flat;
}

class ConventionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::path(::testing::TempDir()) /
          ("conventions_" + std::string(info->name()) + "_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    mesh = deform_scene::Sheet(6, 5);
    headless::WriteObj((dir / "rest.obj").string(), mesh.points, mesh.polygons);
    for (int i = 0; i < 2; ++i)
      headless::WriteObj((dir / ("frame" + std::to_string(i) + ".obj")).string(),
                         deform_scene::Twist(mesh.points, 0.1 * (i + 1), true), mesh.polygons);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Apply(const std::string& more) const {
    return "apply --rest " + Quoted(dir / "rest.obj") + " " + more;
  }
  std::string Frame(int i) const { return Quoted(dir / ("frame" + std::to_string(i) + ".obj")); }

  fs::path dir;
  deform_scene::Mesh mesh;
};

TEST_F(ConventionsTest, VersionNamesTheProgramAndThePlugin) {
  for (const char* arguments : {"--version", "version"}) {
    const CliRun run = RunCli(arguments);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.out.rfind("tessamire 1.", 0), 0u) << run.out;
    EXPECT_TRUE(Contains(run.out, "tessamire.xdl64: Tessamire v1.10")) << run.out;
  }
}

TEST_F(ConventionsTest, BothOptionFormsGiveTheSameResult) {
  const CliRun spaced = RunCli(
      Apply("--iterations 3 --strength 0.5 --out " + Quoted(dir / "a.obj") + " " + Frame(0)));
  const CliRun joined = RunCli(
      Apply("--iterations=3 --strength=0.5 --out=" + Quoted(dir / "b.obj") + " " + Frame(0)));
  ASSERT_EQ(spaced.status, 0) << spaced.output;
  ASSERT_EQ(joined.status, 0) << joined.output;
  EXPECT_EQ(ReadWholeFile(dir / "a.obj"), ReadWholeFile(dir / "b.obj"));
  // `--` ends the options: a frame may then start with a dash.
  fs::copy_file(dir / "frame0.obj", dir / "--odd.obj");
  const CliRun dashed = RunCli("apply --rest " + Quoted(dir / "rest.obj") + " --out " +
                               Quoted(dir / "c.obj") + " -- " + Quoted(dir / "--odd.obj"));
  ASSERT_EQ(dashed.status, 0) << dashed.output;
  EXPECT_EQ(headless::ReadObj((dir / "c.obj").string()).points.size(), mesh.points.size());
}

TEST_F(ConventionsTest, UsageErrorsNameTheOptionAndShowThatCommandsUsageOnly) {
  struct Case {
    std::string arguments;
    std::string message;
  };
  const std::string out = " --out " + Quoted(dir / "x.obj") + " " + Frame(0);
  const std::vector<Case> cases = {
      {Apply("--bogus 1" + out), "unknown option --bogus"},
      {Apply("--bogus=1" + out), "unknown option --bogus"},
      {Apply("--iterations 3 --iterations 4" + out), "option --iterations is given more than once"},
      {Apply("--rest " + Quoted(dir / "rest.obj") + out), "option --rest is given more than once"},
      {Apply("--quiet=1" + out), "option --quiet takes no value"},
      {Apply(out + " --strength"), "option --strength needs a value"},
      {"apply --out x.obj " + Frame(0), "option --rest REST.obj is required"},
      {Apply("--out " + Quoted(dir / "x.obj")), "missing FRAME.obj..."},
      {"info extra", "unexpected operand \"extra\""},
      {"info -x", "unknown option -x"},
  };
  for (const Case& c : cases) {
    const CliRun run = RunCli(c.arguments);
    const std::string command = c.arguments.substr(0, c.arguments.find(' '));
    EXPECT_EQ(run.status, 2) << c.arguments << "\n" << run.output;
    EXPECT_TRUE(Contains(run.err, "tessamire " + command + ": " + c.message)) << c.arguments << "\n"
                                                                              << run.err;
    EXPECT_TRUE(Contains(run.err, "usage: tessamire " + command + " [OPTIONS]")) << run.err;
    EXPECT_FALSE(Contains(run.err, "commands:")) << "the list of every command: " << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_FALSE(fs::exists(dir / "x.obj"));
}

TEST_F(ConventionsTest, HelpGivesEveryOptionItsMeaningRangeAndDefault) {
  const CliRun list = RunCli("--help");
  ASSERT_EQ(list.status, 0);
  for (const char* command : {"apply", "command", "eval", "info", "measure", "render", "run",
                              "scene import", "scene info"}) {
    EXPECT_TRUE(Contains(list.out, std::string("  ") + command + " ")) << list.out;
    const CliRun help = RunCli(std::string(command) + " --help");
    ASSERT_EQ(help.status, 0) << command << help.output;
    EXPECT_TRUE(Contains(help.out, std::string("usage: tessamire ") + command)) << help.out;
    for (const char* common : {"--threads N", "--help"})
      EXPECT_TRUE(Contains(help.out, common)) << command << "\n" << help.out;
  }
  // The bind tag's ranges and defaults are the plug-in's own description's.
  const CliRun apply = RunCli("apply --help");
  for (const char* part :
       {"--iterations N", "a whole number from 0 to 1000; default 2", "--strength S",
        "a finite number from 0 to 1; default 1", "--weighting W",
        "(0 Uniform, 1 Length); 0 or 1; default 1", "--pin-border 0|1", "--rest REST.obj",
        "required", "--report", "--preview PIC.png"})
    EXPECT_TRUE(Contains(Flat(apply.out), part)) << part << "\n" << apply.out;
  const CliRun render = RunCli("render --help");
  for (const char* part :
       {"--view NAME", "front, back, left, right, top or three-quarter", "default three-quarter",
        "default 480x480", "--turntable N", "--movie OUT.mp4", "--detail REST.obj"})
    EXPECT_TRUE(Contains(Flat(render.out), part)) << part << "\n" << render.out;
}

TEST_F(ConventionsTest, ValuesOutsideTheirRangeAreRefusedWithTheRangeNamed) {
  const std::string out = " --out " + Quoted(dir / "x.obj") + " " + Frame(0);
  struct Case {
    std::string arguments;
    std::string message;
  };
  const std::vector<Case> cases = {
      {Apply("--strength 5" + out), "--strength wants a finite number from 0 to 1, not \"5\""},
      {Apply("--strength -1" + out), "--strength wants a finite number from 0 to 1, not \"-1\""},
      {Apply("--strength nan" + out), "--strength wants a finite number"},
      {Apply("--strength 1e39" + out), "--strength wants a number within the float32 range"},
      {Apply("--iterations 100000" + out), "--iterations wants a whole number from 0 to 1000"},
      {Apply("--iterations 1001" + out), "--iterations wants a whole number from 0 to 1000"},
      {Apply("--iterations -1" + out), "--iterations wants a whole number from 0 to 1000"},
      {Apply("--weighting 2" + out), "--weighting wants 0 or 1"},
      {Apply("--pin-border nan" + out), "--pin-border wants a whole number, not \"nan\""},
      {Apply("--pin-border 3" + out), "--pin-border wants 0 or 1, not \"3\""},
      {Apply("--threads 0" + out), "--threads wants a whole number from 1 to 1024"},
      {Apply("--threads nan" + out), "--threads wants a whole number"},
      {"run --angle nan --out " + Quoted(dir / "run"), "--angle wants a finite number from -180"},
      {"run --frames 1 --out " + Quoted(dir / "run"), "--frames wants a whole number from 2"},
      {"run --iterations 5000 --out " + Quoted(dir / "run"),
       "--iterations wants a whole number from 0 to 1000"},
      {"render --fps nan --movie " + Quoted(dir / "m.mp4") + " " + Frame(0),
       "--fps wants a finite number"},
      {"render --view sideways --out " + Quoted(dir / "p.png") + " " + Frame(0),
       "--view wants one of front, back, left, right, top or three-quarter, not \"sideways\""},
  };
  for (const Case& c : cases) {
    const CliRun run = RunCli(c.arguments);
    EXPECT_EQ(run.status, 2) << c.arguments << "\n" << run.output;
    EXPECT_TRUE(Contains(run.err, c.message)) << c.arguments << "\n" << run.err;
  }
  EXPECT_FALSE(fs::exists(dir / "x.obj"));
  EXPECT_FALSE(fs::exists(dir / "run"));
}

TEST_F(ConventionsTest, ProgressIsPlainLinesOffATerminal) {
  // A quick run: its last line alone; with $TESSAMIRE_PROGRESS_SECONDS 0, every step's.
  CliRun run = RunCli(Apply("--out " + Quoted(dir / "many") + " " + Frame(0) + " " + Frame(1)));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_FALSE(Contains(run.err, "step 1/3")) << run.err;
  EXPECT_TRUE(Contains(run.err, "tessamire apply: step 3/3: ")) << run.err;
  EXPECT_FALSE(Contains(run.err, "\r")) << "no bar redrawn in place";
  CliSetting everyStep;
  everyStep.environment = {"TESSAMIRE_PROGRESS_SECONDS=0"};
  run =
      RunCli(Apply("--out " + Quoted(dir / "every") + " " + Frame(0) + " " + Frame(1)), everyStep);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Contains(run.err, "tessamire apply: step 1/3: bound ")) << run.err;
  EXPECT_TRUE(Contains(run.err, "tessamire apply: step 2/3: ")) << run.err;

  // One frame of a mesh that makes one evaluation long: its stages are reported too.
  const headless::Mesh big = headless::Grid(260, 260, 1.0);
  headless::WriteObj((dir / "big.obj").string(), big.points, big.polygons);
  run = RunCli("apply --iterations 1000 --rest " + Quoted(dir / "big.obj") + " --out " +
               Quoted(dir / "big_out.obj") + " " + Quoted(dir / "big.obj"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Contains(run.err, "tessamire apply: step 2/2: ")) << run.err;
}

TEST_F(ConventionsTest, DashReadsTheStandardInputAndWritesTheStandardOutput) {
  // A frame from the standard input, the result to the standard output.
  CliSetting input;
  input.input = (dir / "frame0.obj").string();
  CliRun run = RunCli(Apply("--out - --report -"), input);
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(RunCli(Apply("--out " + Quoted(dir / "file.obj") + " " + Frame(0))).status, 0);
  EXPECT_EQ(run.outBytes, ReadWholeFile(dir / "file.obj")) << "the mesh alone goes to stdout";
  EXPECT_TRUE(Contains(run.err, "height error")) << "the report moves to stderr: " << run.err;

  // A picture to the standard output, of a mesh from the standard input.
  run = RunCli("render - --out -", input);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.outBytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));

  // A scene through a pipe: import to stdout, then read it back from stdin.
  run = RunCli("scene import --tag --out - " + Frame(0));
  ASSERT_EQ(run.status, 0) << run.err;
  { std::ofstream(dir / "piped.tsm", std::ios::binary) << run.outBytes; }
  input.input = (dir / "piped.tsm").string();
  run = RunCli("scene info -", input);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "object polygon \"frame0\" points=42")) << run.out;

  // Only one input can be the standard input; a folder output cannot be stdout.
  run = RunCli("apply --rest - --out - -", input);
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(Contains(run.err, "only one input can come from the standard input")) << run.err;
  run = RunCli(Apply("--out - " + Frame(0) + " " + Frame(1)));
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(Contains(run.err, "takes the result of one frame only")) << run.err;
}

TEST_F(ConventionsTest, OutputFoldersAreCreatedOnlyUnderAnExistingParent) {
  CliRun run =
      RunCli(Apply("--out " + Quoted(dir / "missing" / "deeper" / "x.obj") + " " + Frame(0)));
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.err, "its parent " + (dir / "missing").string() + " does not exist"))
      << run.err;
  EXPECT_FALSE(fs::exists(dir / "missing"));

  run = RunCli("eval --out " + Quoted(dir / "no" / "where") + " " + Quoted(dir / "none.tsm"));
  EXPECT_EQ(run.status, 1);
  EXPECT_FALSE(fs::exists(dir / "no"));

  run = RunCli(Apply("--out " + Quoted(dir / "new" / "x.obj") + " " + Frame(0)));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::is_regular_file(dir / "new" / "x.obj"));
  run = RunCli(Apply("--out " + Quoted(dir / "folder") + " " + Frame(0) + " " + Frame(1)));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::is_regular_file(dir / "folder" / "frame1.obj"));
}

TEST_F(ConventionsTest, ThreadsSetTheWorkersWithoutChangingTheResult) {
  for (const char* threads : {"1", "2", "7"}) {
    const CliRun run =
        RunCli(Apply(std::string("--threads ") + threads + " --iterations 6 --out " +
                     Quoted(dir / (std::string("t") + threads + ".obj")) + " " + Frame(1)));
    ASSERT_EQ(run.status, 0) << run.output;
  }
  EXPECT_EQ(ReadWholeFile(dir / "t1.obj"), ReadWholeFile(dir / "t2.obj"));
  EXPECT_EQ(ReadWholeFile(dir / "t1.obj"), ReadWholeFile(dir / "t7.obj"));
}

TEST_F(ConventionsTest, PluginsAreLookedForInTheOptionThenTheEnvironmentThenBesideTheProgram) {
  CliSetting elsewhere;
  elsewhere.environment = {"TESSAMIRE_PLUGINS=" + (dir / "none").string()};
  CliRun run = RunCli("info", elsewhere);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.err, (dir / "none").string())) << run.err;
  run = RunCli("info --plugins " + Quoted(TESSAMIRE_DEFAULT_PLUGIN_DIR), elsewhere);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "Tessamire v1.10"));
  elsewhere.environment = {"TESSAMIRE_PLUGINS=" + std::string(TESSAMIRE_DEFAULT_PLUGIN_DIR)};
  run = RunCli("info --plugins " + Quoted(dir / "none"), elsewhere);
  EXPECT_EQ(run.status, 1) << "--plugins wins over the environment";

#ifndef _WIN32
  // A copy of the program with no plug-ins beside it finds none, and says where it looked.
  fs::copy_file(TESSAMIRE_CLI, dir / "tessamire");
  const std::string copy = "'" + (dir / "tessamire").string() + "' info 2>&1";
  FILE* pipe = popen(("env -u TESSAMIRE_PLUGINS " + copy).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string text;
  char buffer[512];
  while (size_t got = fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, got);
  EXPECT_NE(pclose(pipe), 0);
  EXPECT_TRUE(Contains(text, (dir / "plugins").string())) << text;
  EXPECT_TRUE(Contains(text, (dir.parent_path() / "lib" / "tessamire" / "plugins").string()))
      << text;
#endif
}

#ifndef _WIN32
// Starts the program in the background with its output in files; answers its process id.
pid_t StartCli(const std::vector<std::string>& arguments, const fs::path& err) {
  std::vector<std::string> words = {TESSAMIRE_CLI};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, TESSAMIRE_CLI, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return failed == 0 ? pid : -1;
}
#endif

TEST_F(ConventionsTest, CtrlCStopsCleanlyLeavingNoHalfWrittenFile) {
#ifdef _WIN32
  GTEST_SKIP() << "sends SIGINT to a child process; the console control event is not tested";
#else
  // Many frames of a mesh large enough that each takes a while.
  const headless::Mesh big = headless::Grid(120, 120, 1.0);
  headless::WriteObj((dir / "big.obj").string(), big.points, big.polygons);
  std::vector<std::string> arguments = {
      "apply", "--iterations",        "300", "--rest", (dir / "big.obj").string(),
      "--out", (dir / "out").string()};
  for (int i = 0; i < 40; ++i) {
    const fs::path frame = dir / ("f" + std::to_string(100 + i) + ".obj");
    fs::copy_file(dir / "big.obj", frame);
    arguments.push_back(frame.string());
  }
  fs::create_directories(dir / "out");
  headless::WriteObj((dir / "out" / "f139.obj").string(), mesh.points, mesh.polygons);
  const std::string old = ReadWholeFile(dir / "out" / "f139.obj");

  // Every step's line, so that the first frame's end shows.
  setenv("TESSAMIRE_PROGRESS_SECONDS", "0", 1);
  const pid_t pid = StartCli(arguments, dir / "err.txt");
  unsetenv("TESSAMIRE_PROGRESS_SECONDS");
  ASSERT_GT(pid, 0);
  // Wait for the first frame to be done, then press Ctrl-C.
  for (int i = 0; i < 6000 && !Contains(ReadWholeFile(dir / "err.txt"), "step 2/"); ++i)
    usleep(10000);
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal instead of stopping cleanly";
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_TRUE(Contains(ReadWholeFile(dir / "err.txt"), "tessamire apply: interrupted"))
      << ReadWholeFile(dir / "err.txt");
  // Every file left is a whole result; the old file the run did not reach is untouched.
  size_t results = 0;
  for (const auto& entry : fs::directory_iterator(dir / "out")) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << "a temporary file was left: " << name;
    if (name == "f139.obj") continue;
    EXPECT_EQ(headless::ReadObj(entry.path().string()).points.size(), big.points.size()) << name;
    ++results;
  }
  EXPECT_GE(results, 1u);
  EXPECT_LT(results, 39u) << "the run was not stopped";
  EXPECT_EQ(ReadWholeFile(dir / "out" / "f139.obj"), old);
#endif
}

}  // namespace
