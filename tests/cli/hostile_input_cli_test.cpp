// Inputs as an attacker or a busy studio hands them over, through the built program, each checked
// for what its refusal costs: endless devices and streams (/dev/zero, fifos fed without end),
// sequences of a mistyped length, files of formats the program does not take and a limb larger
// than the machine. Each is refused with its fault named, at a peak memory within a few MB of a
// run that fails at once (the peak is the kernel's account of the child, not a guess).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/cli_runner.h"
#include "tests/support/limited_run.h"

namespace {

namespace fs = std::filesystem;

#ifndef _WIN32

// What a refusal may cost beyond a run refused at once, in KiB. A sanitizer's shadow memory
// grows with what the program touches (ThreadSanitizer's by several times its 1 MiB line), so
// sanitized runs get more room: still far below what an unbounded read takes.
#if TESSAMIRE_TESTS_SANITIZED
constexpr long long kFewMiB = 32 * 1024;
#else
constexpr long long kFewMiB = 8 * 1024;
#endif

class HostileInput : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::path(::testing::TempDir()) /
          ("tessamire_hostile_" + std::string(info->name()) + "_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "tri.obj") << "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    // The same start-up (the plug-in loaded) and a refusal at the first file.
    baseline = limited_run::RunProgram({"apply", "--rest", (dir / "missing.obj").string(), "--out",
                                        (dir / "o.obj").string(), Tri()});
    ASSERT_EQ(baseline.status, 1) << baseline.err;
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Tri() const { return (dir / "tri.obj").string(); }
  // A fifo in the folder, fed by `feeder` (a shell command writing to its standard output)
  // until its reader goes.
  std::string Fifo(const std::string& name, const std::string& feeder) {
    const std::string path = (dir / name).string();
    EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
    feeders.push_back(limited_run::StartShell("{ " + feeder + "; } > '" + path + "'"));
    return path;
  }
  // `arguments` are refused with exit `status` and `message`, at little more than the baseline's
  // peak memory.
  void ExpectCheapRefusal(const std::vector<std::string>& arguments, int status,
                          const std::string& message, const std::string& input = "") {
    const limited_run::Run run = limited_run::RunProgram(arguments, input);
    for (pid_t feeder : feeders) limited_run::EndShell(feeder);
    feeders.clear();
    EXPECT_EQ(run.status, status) << run.err;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_LT(run.peakKib, baseline.peakKib + kFewMiB)
        << "peak " << run.peakKib << " KiB against " << baseline.peakKib << " KiB\n"
        << run.err;
  }

  fs::path dir;
  limited_run::Run baseline;
  std::vector<pid_t> feeders;
};

TEST_F(HostileInput, ReadersStopAtTheFirstZeroByteOrOverlongLine) {
  const std::string out = (dir / "o.obj").string();
  ExpectCheapRefusal({"apply", "--rest", "/dev/zero", "--out", out, Tri()}, 1,
                     "/dev/zero:0: not a text file (byte 0 is zero)");
  ExpectCheapRefusal({"apply", "--rest", "-", "--out", out, Tri()}, 1,
                     "-:0: not a text file (byte 0 is zero)", "/dev/zero");
  ExpectCheapRefusal({"apply", "--rest", Tri(), "--vertex-map", "/dev/zero", "--out", out, Tri()},
                     1, "/dev/zero:1: not a text file (byte 0 is zero): not a weight file");
  ExpectCheapRefusal({"apply", "--rest", Tri(), "--restriction", "-", "--out", out, Tri()}, 1,
                     "not a weight file", "/dev/zero");
  // One line without end: read no further than the limit.
  const std::string endless = Fifo("endless.obj", "printf 'v '; exec tr '\\000' x </dev/zero");
  ExpectCheapRefusal({"apply", "--rest", endless, "--out", out, Tri()}, 1,
                     "endless.obj:1: the line is longer than 1048576 bytes");
  const std::string weights = Fifo("w.txt", "printf '1\\n'; exec tr '\\000' 7 </dev/zero");
  ExpectCheapRefusal({"apply", "--rest", Tri(), "--vertex-map", weights, "--out", out, Tri()}, 1,
                     "w.txt:2: the line is longer than 4096 bytes");
}

TEST_F(HostileInput, CachesReadTheirHeaderThenWhatItAnnounces) {
  const std::string out = (dir / "o.pc2").string();
  // One sample of one point announced, then zeros without end.
  const std::string mdd =
      Fifo("c.mdd", "printf '\\000\\000\\000\\001\\000\\000\\000\\001'; exec cat /dev/zero");
  ExpectCheapRefusal({"apply", "--rest", Tri(), "--out", out, mdd}, 1,
                     "c.mdd: the header gives 1 samples of 1 points (12 + 1 x 12 bytes), but the "
                     "file holds more than 24 bytes (trailing bytes)");
  const std::string zeros = Fifo("z.mdd", "exec cat /dev/zero");
  ExpectCheapRefusal({"apply", "--rest", Tri(), "--out", out, zeros}, 1,
                     "z.mdd: the cache holds no points");
  // A header announcing more than any machine holds, fed without end.
  const std::string huge =
      Fifo("h.pc2",
           "printf 'POINTCACHE2\\000\\001\\000\\000\\000\\377\\377\\377\\177"
           "\\000\\000\\000\\000\\000\\000\\200\\077\\377\\377\\377\\177'; exec cat /dev/zero");
  ExpectCheapRefusal({"apply", "--rest", Tri(), "--out", (dir / "o.mdd").string(), huge}, 1,
                     "of this machine's memory");
}

TEST_F(HostileInput, SequencesOfAMistypedLengthAreRefusedBeforeTheyArePlanned) {
  ExpectCheapRefusal({"apply", "--rest", Tri(), "--out", (dir / "out").string(), "--frames",
                      "0:2147483647", (dir / "walk.####.obj").string()},
                     2, "at most 100000 frames");
}

TEST_F(HostileInput, CharactersAreReadOnlyFromTheFormatsTaken) {
  // An OFF file whose counts would have Assimp's OFF reader claim gigabytes.
  std::ofstream(dir / "forged.off") << "OFF\n2000000000 2000000000 0\n0 0 0\n";
  const std::string formats = "FBX (.fbx), glTF 2.0 (.gltf, .glb), Collada (.dae) and DirectX (.x)";
  ExpectCheapRefusal(
      {"scene", "import", (dir / "forged.off").string(), "--out", (dir / "s.tsm").string()}, 1,
      "forged.off: not a character file this program reads; it reads " + formats);
  // The same bytes under a name taken: refused by their content.
  fs::copy_file(dir / "forged.off", dir / "forged.dae");
  ExpectCheapRefusal(
      {"scene", "import", (dir / "forged.dae").string(), "--out", (dir / "s.tsm").string()}, 1,
      "forged.dae: its content is not Collada, as its name says");
  // Assimp's readers seek: a stream is no character file.
  const std::string stream =
      Fifo("stream.fbx", "printf 'Kaydara FBX Binary  '; exec cat /dev/zero");
  ExpectCheapRefusal({"run", "--character", stream, "--out", (dir / "run").string()}, 1,
                     "stream.fbx: a character is read from a regular file");
  EXPECT_FALSE(fs::exists(dir / "s.tsm"));
}

TEST_F(HostileInput, TheMainJobRefusesALimbLargerThanTheMachine) {
  ExpectCheapRefusal({"run", "--points", "2147483647", "--out", (dir / "run").string()}, 1,
                     "of memory, more than the");
  EXPECT_FALSE(fs::exists(dir / "run"));
}

#else

TEST(HostileInput, MeasuredThroughPosixCallsOnly) {
  GTEST_SKIP() << "the runs are measured through fork, setrlimit and wait4, and fed through fifos";
}

#endif

}  // namespace
