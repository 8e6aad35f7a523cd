// `tessamire bake INPUT [settings] [--clip C...|--all-clips] [--range-of-motion DEG]
// [--influences 4|8] [--holdout EVERY] --out BAKED.glb [--report]`: skin weights that play the
// correction without the deformer (headless/job/bake_character.h does the work; here the options
// are mapped and the report printed).
#include "cli/clips.h"
#include "cli/command_table.h"
#include "cli/sequence.h"
#include "cli/tag_settings.h"
#include "headless/io/scene_file.h"
#include "headless/job/bake_character.h"

namespace cli {
namespace {

int RunBake(const Options& options, std::ostream& out, std::ostream& err) {
  headless::BakeRequest request;
  headless::CorrectRequest& correct = request.correct;
  correct.eval.source = options.Operands().front();
  correct.eval.command = "tessamire bake";
  const bool scene = correct.eval.source == "-" || headless::IsSceneFile(correct.eval.source);
  if (scene && options.Has("--all-clips"))
    throw UsageError("--all-clips picks a character file's animations; a scene holds one clip");
  SetCorrectInput(options, correct);
  if (options.Has("--frames")) {
    correct.eval.frames.emplace();
    ParseSequenceRange(options.Text("--frames"), correct.eval.frames->first,
                       correct.eval.frames->last);
  }
  correct.eval.fps = options.Number("--fps");
  request.rangeOfMotion = options.Number("--range-of-motion");
  request.solve.influences =
      options.Has("--influences") ? std::stoi(options.Text("--influences")) : 4;
  request.solve.smoothness = options.Number("--smoothness").value_or(0.0);
  request.solve.sweeps = request.solve.smoothness > 0.0 ? 4 : 0;
  request.holdout = static_cast<Int32>(*options.IntegerOrDefault("--holdout"));
  request.report = options.Has("--report");
  request.out = options.Text("--out");
  headless::CorrectObserver observer;
  observer.eval.message = [&err](const std::string& line) { err << line << "\n"; };
  const headless::BakeResult result = headless::BakeCharacter(request, observer);
  for (const std::string& note : result.notes) err << "tessamire bake: note: " << note << "\n";
  if (request.report)
    for (const std::string& line : headless::BakeReportLines(result)) out << line << "\n";
  return kExitOk;
}

}  // namespace

Subcommand BakeSubcommand() {
  CommandSpec declaration;
  declaration.name = "bake";
  declaration.operands = "CHARACTER|SCENE";
  declaration.minOperands = 1;
  declaration.maxOperands = 1;
  declaration.summary =
      "solve skin weights that play the correction by plain skinning, for engines";
  declaration.details =
      "Corrects the character as `correct` does, over every frame of its clips (and with "
      "--range-of-motion each joint turned up to DEG degrees about its axes from the bind "
      "pose), solves per welded point new weights over its joints (at most --influences, "
      "non-negative, summing to 1) that bring linear blend skinning closest to the corrected "
      "points, and writes BAKED.glb: the character's skinned glTF with those weights and no "
      "morph targets. --report prints how close: over all frames, and on every --holdout-th "
      "frame left out of a second solve.";
  declaration.options = {
      Required(TextOption("--out", "BAKED.glb", "the skinned glTF written")),
      ChoiceOption("--influences", "N", "joints per vertex at most", {"4", "8"}, "4"),
      NumberOption("--range-of-motion", "DEG", "also poses turning each joint by up to DEG", 0.0,
                   180.0, "the clips' frames only"),
      IntegerOption("--holdout", "EVERY", "the report's held-out frames (0: none)", 0, std::nullopt,
                    "4"),
      NumberOption("--smoothness", "S", "pull each point's weights towards its neighbours'", 0.0,
                   std::nullopt, "0"),
      FlagOption("--report",
                 "print the distances to the corrected points and the share "
                 "recovered"),
      TextOption("--frames", "A:B", "the frames to bake on", "the animation's frames"),
      NumberOption("--fps", "F", "frames per second of the character's keys", std::nullopt,
                   std::nullopt, "the file's own rate, else 30"),
      ChoiceOption("--settings", "auto", "the settings not given from `tune`", {"auto"}, ""),
      AssetRootOption()};
  for (OptionSpec& o : TagSettingOptions(true)) declaration.options.push_back(o);
  for (OptionSpec& o : ClipOptions()) declaration.options.push_back(o);
  return {declaration, RunBake};
}

}  // namespace cli
