// `tessamire run`: the main job (headless/job/limb_job.h), or with --character its second act on
// a rigged file (headless/job/character_job.h): prepares the job, shows the progress of its
// frames, prints its table and writes its outputs.
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/clips.h"
#include "cli/command_table.h"
#include "cli/output_folder.h"
#include "cli/tag_settings.h"
#include "headless/batch/progress_printer.h"
#include "headless/files/printable.h"
#include "headless/files/shortest_number.h"
#include "headless/job/character_job.h"
#include "headless/job/limb_job.h"
#include "headless/job/tables.h"
#include "headless/platform/memory.h"
#include "headless/platform/streams.h"
#include "web/page_template.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

struct RunOptions {
  std::string character;  // a rigged file: the second act
  Float readerSeconds = 0.0;
  std::string assetRoot;  // where the files it names must lie
  Int64 points = 50000;
  Int32 frames = 30;
  Float angle = 120.0;
  std::string out = "out";
  bool quiet = false;
};

headless::Progress FrameProgress(const RunOptions& o, Int64 frames, std::ostream& err) {
  return headless::Progress(
      err, headless::ChooseProgressStyle(headless::platform::StderrIsTerminal(), o.quiet),
      "tessamire run", "frame", frames);
}

// Refuses a limb the machine's memory cannot hold, before building any of it.
void CheckLimbFits(const RunOptions& o) {
  const Float needed = headless::LimbJobBytes(o.points, o.frames);
  const Float memory = static_cast<Float>(headless::platform::PhysicalMemoryBytes());
  const auto gib = [](Float bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GiB", bytes / 1073741824.0);
    return std::string(text);
  };
  if (memory > 0.0 && needed > memory)
    throw std::runtime_error("--points " + std::to_string(o.points) + " over " +
                             std::to_string(o.frames) + " frames would take about " + gib(needed) +
                             " of memory, more than the " + gib(memory) +
                             " of this machine; give fewer points or frames");
}

int RunLimb(const RunOptions& o, const headless::TagSettings& settings, std::ostream& out,
            std::ostream& err) {
  CheckLimbFits(o);
  headless::LimbJob job({o.points, o.frames, o.angle, settings});
  const fs::path outDir(o.out);
  PrepareFolder(o.out);
  if (!o.quiet)
    out << "limb: " << job.PointCount() << " points, " << job.PolygonCount() << " polygons, "
        << job.JointCount() << " joints; " << job.EdgeCount()
        << " edges measured where the weights blend\n";
  headless::Progress progress = FrameProgress(o, job.FrameCount(), err);
  for (Int32 frame = 0; frame < job.FrameCount(); ++frame) {
    const headless::FrameRow& row = job.MeasureFrame(frame);
    char bend[32];
    std::snprintf(bend, sizeof bend, "bend %.1f deg", row.label);
    progress.Step(bend);
  }
  progress.Finish();
  headless::PrintFrameTable(job.Rows(), job.PointCount(), "angle", out);
  job.WriteOutputs(outDir, web::PageTemplate());
  if (!o.quiet)
    out << "wrote " << (outDir / "skinned.obj").string() << ", corrected.obj, limb.tsm, "
        << "limb.png, detail.png, measures.png and view.html\n";
  return kExitOk;
}

int RunCharacter(const RunOptions& o, const headless::TagSettings& settings, std::ostream& out,
                 std::ostream& err) {
  headless::CharacterJob job({o.character, settings,
                              [&](const std::string& note) {
                                err << "tessamire run: note: " << o.character << ": "
                                    << headless::Printable(note) << "\n";
                              },
                              o.readerSeconds, o.assetRoot});
  const fs::path outDir(o.out);
  PrepareFolder(o.out);
  if (!o.quiet)
    out << headless::Printable(job.MeshName()) << ": " << job.PointCount() << " points, "
        << job.PolygonCount() << " polygons, " << job.JointCount() << " joints, frames 0 to "
        << job.LastFrame() << " at " << headless::ShortestNumber(job.Fps()) << " per second; "
        << job.EdgeCount() << " edges measured where the weights blend\n";
  headless::Progress progress = FrameProgress(o, job.FrameCount(), err);
  for (Int32 frame = 0; frame < job.FrameCount(); ++frame) {
    job.MeasureFrame(frame);
    progress.Step("at frame " + std::to_string(frame));
  }
  progress.Finish();
  headless::PrintFrameTable(job.Rows(), job.PointCount(), "time", out);
  job.WriteOutputs(outDir, web::PageTemplate());
  if (!o.quiet)
    out << "frame " << job.ShownFrame() << " (where skinning loses most detail): wrote "
        << (outDir / "skinned.obj").string()
        << ", corrected.obj, character.tsm, character.png, character-detail.png, "
           "measures.png and view.html\n";
  return kExitOk;
}

int RunMainJob(const Options& options, std::ostream& out, std::ostream& err) {
  RunOptions o;
  o.character = options.Text("--character");
  o.readerSeconds = ReaderSeconds(options);
  o.assetRoot = options.Text("--asset-root");
  if (o.character.empty() && !o.assetRoot.empty())
    throw UsageError("--asset-root applies to a character file (--character)");
  if (!o.character.empty())
    for (const char* limbOnly : {"--points", "--frames", "--angle"})
      if (options.Has(limbOnly))
        throw UsageError(std::string(limbOnly) +
                         " applies to the limb; a character runs its own mesh and animation");
  o.points = options.Integer("--points").value_or(o.points);
  o.frames = static_cast<Int32>(options.Integer("--frames").value_or(o.frames));
  o.angle = options.Number("--angle").value_or(o.angle);
  o.out = options.Text("--out", o.out);
  if (o.out == "-") throw UsageError("--out wants a folder; run writes several files");
  o.quiet = options.Has("--quiet");
  const headless::TagSettings settings = [&](headless::Node* tag) {
    ApplyTagSettings(options, tag);
  };
  return o.character.empty() ? RunLimb(o, settings, out, err) : RunCharacter(o, settings, out, err);
}

std::vector<OptionSpec> RunOptionSpecs() {
  std::vector<OptionSpec> declarations = {
      IntegerOption("--points", "N", "about how many points the limb has", 8, 2147483647.0,
                    "50000"),
      IntegerOption("--frames", "F", "frames of the bend, from straight to --angle", 2, 100000,
                    "30"),
      NumberOption("--angle", "DEG", "the elbow's bend at the last frame, in degrees", -180, 180,
                   "120")};
  for (OptionSpec& o : TagSettingOptions(false)) {
    if (o.name == "--iterations")
      o.meaning += "; the run's own default is " + std::to_string(headless::kLimbJobIterations) +
                   " from 50,000 points up, fewer in proportion below (it overrides the tag's)";
    declarations.push_back(o);
  }
  declarations.push_back(
      TextOption("--character", "FILE",
                 "run on this rigged character (.fbx, .gltf, .glb, .dae or .x) instead "
                 "of the limb"));
  declarations.push_back(ReaderTimeoutOption());
  declarations.push_back(AssetRootOption());
  declarations.push_back(
      TextOption("--out", "DIR",
                 "the folder for meshes, scene and pictures (created when its parent "
                 "exists)",
                 "out"));
  declarations.push_back(FlagOption("--quiet", "print no progress and no summary, only the table"));
  return declarations;
}

}  // namespace

Subcommand RunSubcommand() {
  CommandSpec declaration;
  declaration.name = "run";
  declaration.summary =
      "the main job: skin the built-in limb, bend its elbow, and measure the detail "
      "that skinning alone and the correction keep";
  declaration.details =
      "Skins the built-in limb, equips it with the plug-in's setup command, bends the "
      "elbow over F frames, prints the detail kept by skinning alone and by the "
      "correction per frame, and writes meshes, the scene and pictures to DIR. With "
      "--character, the same on a rigged file's largest skinned mesh over its own "
      "animation, with the tag's default rounds unless --iterations says otherwise.";
  declaration.options = RunOptionSpecs();
  return {declaration, RunMainJob};
}

}  // namespace cli
