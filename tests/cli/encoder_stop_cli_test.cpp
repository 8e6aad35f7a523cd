// `render --movie` stopped while its encoder has stopped reading: a stand-in for ffmpeg that
// never reads its input and shrugs off SIGINT and SIGTERM. SIGTERM stops the program as Ctrl-C
// does, and Ctrl-C pressed twice ends it at once; either way it exits with 130, the encoder is
// gone and nothing half-written is left.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "headless/io/obj_write.h"
#include "tests/support/build_paths.h"
#include "tests/support/cli_runner.h"
#include "tests/support/deform_scene.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace {

namespace fs = std::filesystem;

#ifndef _WIN32

class EncoderStop : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::path(::testing::TempDir()) /
          ("tessamire_encoder_" + std::string(info->name()) + "_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "bin");
    std::ofstream(dir / "bin" / "ffmpeg")
        << "#!/bin/sh\necho $$ > '" << (dir / "encoder.pid").string()
        << "'\ntrap '' INT TERM\nexec sleep 600\n";
    fs::permissions(dir / "bin" / "ffmpeg", fs::perms::owner_all);
    const deform_scene::Mesh mesh = deform_scene::Sheet(6, 5);
    // Each frame is far more than a pipe holds, so the first write fills it.
    for (int f = 1; f <= 20; ++f)
      headless::WriteObj((dir / ("walk." + std::to_string(1000 + f).substr(1) + ".obj")).string(),
                         mesh.points, mesh.polygons);
  }
  void TearDown() override {
    if (encoder > 0) kill(encoder, SIGKILL);
    fs::remove_all(dir);
  }

  // Starts the movie with the stand-in first on PATH; answers once the encoder runs.
  pid_t StartMovie() {
    std::vector<std::string> words = {TESSAMIRE_CLI,
                                      "render",
                                      "--quiet",
                                      "--size",
                                      "480x480",
                                      "--frames",
                                      "1:20",
                                      "--movie",
                                      (dir / "walk.mp4").string(),
                                      (dir / "walk.###.obj").string()};
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = {"PATH=" + (dir / "bin").string() + ":/usr/bin:/bin"};
    for (char** e = environ; *e != nullptr; ++e)
      if (std::string(*e).rfind("PATH=", 0) != 0) env.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, (dir / "err.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int failed =
        posix_spawn(&pid, TESSAMIRE_CLI, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return -1;
    for (int i = 0; i < 3000 && encoder <= 0; ++i) {
      usleep(10000);
      std::ifstream(dir / "encoder.pid") >> encoder;
    }
    usleep(300000);  // the first frame's write waits on the full pipe by now
    return pid;
  }

  // The program's exit status once it ended; -1 when a signal ended it, -2 when it did not end
  // within a minute (it is then ended here).
  static int Ended(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 6000; ++i) {
      if (waitpid(pid, &status, WNOHANG) == pid)
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -2;
  }

  // Whether `pid` runs (an ended process not yet reaped by whoever inherited it does not).
  static bool Running(pid_t pid) {
    std::string stat;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
    const size_t close = stat.rfind(')');
    return kill(pid, 0) == 0 && close != std::string::npos && close + 2 < stat.size() &&
           stat[close + 2] != 'Z';
  }

  void ExpectNothingLeft() const {
    EXPECT_FALSE(fs::exists(dir / "walk.mp4"));
    for (const auto& entry : fs::directory_iterator(dir))
      EXPECT_NE(entry.path().extension(), ".tmp") << "a temporary file was left: " << entry.path();
    bool running = true;
    for (int i = 0; i < 500 && running; ++i) {
      running = Running(encoder);
      if (running) usleep(10000);
    }
    EXPECT_FALSE(running) << "the encoder still runs";
  }

  fs::path dir;
  pid_t encoder = 0;
};

TEST_F(EncoderStop, SigtermStopsTheRunLikeCtrlC) {
  const pid_t pid = StartMovie();
  ASSERT_GT(pid, 0);
  ASSERT_GT(encoder, 0) << "the stand-in encoder did not start";
  kill(pid, SIGTERM);
  EXPECT_EQ(Ended(pid), 130) << ReadText(dir / "err.txt");
  EXPECT_NE(ReadText(dir / "err.txt").find("interrupted"), std::string::npos)
      << ReadText(dir / "err.txt");
  ExpectNothingLeft();
}

TEST_F(EncoderStop, CtrlCTwiceEndsTheRunAtOnce) {
  const pid_t pid = StartMovie();
  ASSERT_GT(pid, 0);
  ASSERT_GT(encoder, 0) << "the stand-in encoder did not start";
  kill(pid, SIGINT);
  kill(pid, SIGINT);
  EXPECT_EQ(Ended(pid), 130) << ReadText(dir / "err.txt");
  ExpectNothingLeft();
}

#else

TEST(EncoderStop, SignalsArePosixOnly) {
  GTEST_SKIP() << "sends SIGTERM and SIGINT to a child process; the console control event is "
                  "not tested";
}

#endif

}  // namespace
