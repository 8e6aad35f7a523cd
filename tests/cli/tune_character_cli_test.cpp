// `tessamire tune` on a character file and `--settings auto` in `correct` and `eval`, on Assimp's
// coarse test character: one recommendation per deformed mesh with its plot and page, the same
// settings taken by `correct` and `eval` and said once, explicit settings kept over them, and the
// pose guard silent at the rounds chosen; wrong inputs refused by name.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "headless/characters/character.h"
#include "tests/support/cli_runner.h"
#include "tests/support/temp_folder.h"

namespace {

// "R rounds, weighting W, pin P" after `marker` up to the line's end or " (".
std::string SettingAfter(const std::string& text, const std::string& marker) {
  const size_t at = text.find(marker);
  if (at == std::string::npos) return "";
  const size_t from = at + marker.size();
  return text.substr(from, text.find_first_of("(\n", from) - from);
}

TEST(TuneCharacterCli, RecommendsPerMeshAndCorrectTakesItWithoutMovingThePose) {
  const std::filesystem::path model = "/usr/share/assimp/models/FBX/huesitos.fbx";
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  if (!std::filesystem::exists(model)) {
    ADD_FAILURE() << model << " is missing (package assimp-testmodels)";
    return;
  }
  TempFolder folder;
  const std::string dir = (folder.path / "tune").string();
  const CliRun tune = RunInProcess("tune " + model.string() + " --samples 2 --quiet --out " + dir);
  ASSERT_EQ(tune.status, 0) << tune.output;
  std::string recommended = SettingAfter(tune.out, "recommended for Cylinder: ");
  ASSERT_FALSE(recommended.empty()) << tune.out;
  recommended.erase(recommended.find_last_not_of(' ') + 1);
  EXPECT_NE(recommended.rfind("0 rounds", 0), 0u) << "the correction left off: " << tune.out;
  EXPECT_GT(std::filesystem::file_size(dir + "/Cylinder.tune.png"), 1000u);
  EXPECT_GT(std::filesystem::file_size(dir + "/Cylinder.tune.html"), 1000u);

  const CliRun correct =
      RunInProcess("correct " + model.string() + " --settings auto --format pc2 --out " +
                   (folder.path / "auto").string());
  ASSERT_EQ(correct.status, 0) << correct.output;
  EXPECT_EQ(SettingAfter(correct.err, "settings auto: Cylinder: "), recommended) << correct.err;
  EXPECT_EQ(correct.err.find("settings auto:"), correct.err.rfind("settings auto:"));
  EXPECT_EQ(correct.err.find("moved the pose"), std::string::npos) << correct.err;
  const std::string rounds = recommended.substr(0, recommended.find(' '));
  EXPECT_NE(correct.out.find("bound at " + rounds + " iterations"), std::string::npos)
      << correct.out;

  const CliRun given = RunInProcess("correct " + model.string() +
                                    " --settings auto --iterations 3 --format pc2 --quiet --out " +
                                    (folder.path / "given").string());
  ASSERT_EQ(given.status, 0) << given.output;
  EXPECT_EQ(SettingAfter(given.err, "settings auto: Cylinder: ").substr(0, 9), "3 rounds,")
      << given.err;

  // A scene bound at 32 rounds, which move this character's pose: eval binds it again at the
  // recommendation, and the guard keeps quiet.
  const std::string scene = (folder.path / "s.tsm").string();
  ASSERT_EQ(RunInProcess("correct " + model.string() + " --iterations 32 --save-scene " + scene +
                         " --format pc2 --quiet --out " + (folder.path / "32").string())
                .status,
            0);
  const CliRun eval =
      RunInProcess("eval " + scene + " --settings auto --format pc2 --quiet --out " +
                   (folder.path / "eval").string());
  ASSERT_EQ(eval.status, 0) << eval.output;
  EXPECT_EQ(SettingAfter(eval.err, "settings auto: Cylinder: "), recommended) << eval.err;
  EXPECT_EQ(eval.err.find("moved the pose"), std::string::npos) << eval.err;

  const std::string plain = (folder.path / "plain.tsm").string();
  ASSERT_EQ(RunInProcess("scene import " + (folder.path / "32" / "Cylinder.rest.obj").string() +
                         " --out " + plain)
                .status,
            0);

  struct Refused {
    std::string arguments, says;
  };
  for (const Refused& r :
       {Refused{"tune " + model.string() + " " + model.string() + " --out " + dir,
                "one character or scene file"},
        Refused{"tune " + model.string() + " --region w.txt --out " + dir, "--region applies"},
        Refused{"tune " + (folder.path / "none.fbx").string() + " --out " + dir, "none.fbx"},
        Refused{"correct " + model.string() + " --settings most --format pc2 --out " + dir,
                "--settings"},
        Refused{"eval " + (folder.path / "32" / "Cylinder.pc2").string() +
                    " --settings auto --out " + dir,
                "Cylinder.pc2"},
        Refused{"eval " + plain + " --settings auto --out " + dir,
                "holds no mesh with a bind tag"}}) {
    SCOPED_TRACE(r.arguments);
    const CliRun run = RunInProcess(r.arguments);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find(r.says), std::string::npos) << run.err;
  }
}

}  // namespace
