// `tessamire eval`: loads a saved scene, evaluates it at each frame of a range (keyed joints
// first, then the expression and deform passes) and writes every polygon object's deformed mesh
// per frame as `<object>_<frame>.obj`.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>

#include "cli/output_folder.h"
#include "cli/progress.h"
#include "cli/subcommands.h"
#include "headless/host/deform.h"
#include "headless/host/evaluate.h"
#include "headless/host/platform.h"
#include "headless/host/skin.h"
#include "headless/io/obj.h"
#include "headless/io/scene_file.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

struct FrameRange {
  Int32 first = 0;
  Int32 last = 0;
};

bool ParseFrame(const std::string& text, Int32& out) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, out);
  return error == std::errc() && stop == end && !text.empty();
}

// "A:B" (A <= B) or "A".
bool ParseRange(const std::string& text, FrameRange& range) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) {
    if (!ParseFrame(text, range.first)) return false;
    range.last = range.first;
    return true;
  }
  return ParseFrame(text.substr(0, colon), range.first) &&
         ParseFrame(text.substr(colon + 1), range.last) && range.first <= range.last;
}

// The frames the scene's keys span; frame 0 alone when nothing is keyed.
FrameRange KeyedRange(const headless::Document& doc) {
  bool any = false;
  Float lo = 0.0, hi = 0.0;
  for (const headless::Node* node : doc.Objects()) {
    if (!headless::IsJoint(node)) continue;
    const headless::JointKeys keys = headless::ReadJointKeys(node);
    std::vector<Float> frames;
    for (const auto& k : keys.rotations) frames.push_back(k.frame);
    for (const auto& k : keys.transforms) frames.push_back(k.frame);
    if (frames.empty()) continue;
    lo = any ? std::min(lo, frames.front()) : frames.front();
    hi = any ? std::max(hi, frames.back()) : frames.back();
    any = true;
  }
  if (!any) return {};
  constexpr Float kLimit = 2147483647.0;
  if (std::ceil(lo) < -kLimit || std::floor(hi) > kLimit)
    throw std::runtime_error(
        "the keyed frames reach beyond the whole frame numbers; give --frames");
  const Int32 first = static_cast<Int32>(std::ceil(lo));
  const Int32 last = static_cast<Int32>(std::floor(hi));
  if (first > last)
    throw std::runtime_error("no whole frame lies in the keyed range; give --frames");
  return {first, last};
}

// A file-name stem for each polygon object: its name with anything but letters, digits, '-' and
// '_' replaced by '_'; objects whose stems collide get their position in tree order appended.
std::vector<std::string> FileStems(const std::vector<headless::Node*>& objects) {
  std::vector<std::string> stems;
  std::map<std::string, int> uses;
  for (const headless::Node* object : objects) {
    std::string stem = object->name.empty() ? "object" : object->name;
    for (char& c : stem)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
    stems.push_back(stem);
    ++uses[stem];
  }
  for (size_t i = 0; i < stems.size(); ++i)
    if (uses[stems[i]] > 1) stems[i] += "-" + std::to_string(i);
  return stems;
}

int RunEval(const Options& options, std::ostream& out, std::ostream& err) {
  FrameRange range;
  const bool hasRange = options.Has("--frames");
  if (hasRange && !ParseRange(options.Text("--frames"), range))
    throw UsageError("--frames wants A:B with whole numbers A <= B (or one frame A), not \"" +
                     options.Text("--frames") + "\"");
  const std::string path = options.Operands().front();
  const bool quiet = options.Has("--quiet");
  const std::string dir = options.Text("--out");
  if (dir == "-") throw UsageError("--out wants a folder; eval writes a file per object and frame");

  std::unique_ptr<headless::Document> doc = headless::LoadScene(path);
  if (!hasRange) range = KeyedRange(*doc);
  std::vector<headless::Node*> objects;
  for (headless::Node* node : doc->Objects())
    if (node->IsPolygonObject()) objects.push_back(node);
  if (objects.empty()) throw std::runtime_error(path + ": the scene holds no polygon object");
  const std::vector<std::string> stems = FileStems(objects);
  PrepareFolder(dir);

  const Int64 total = static_cast<Int64>(range.last) - range.first + 1;
  headless::Progress progress(
      err, headless::ChooseProgressStyle(headless::platform::StderrIsTerminal(), quiet),
      "tessamire eval", "frame", total);
  for (Int64 frame = range.first; frame <= range.last; ++frame) {
    headless::StopIfInterrupted();
    const headless::DeformReport report =
        headless::EvaluateDocumentAtFrame(*doc, static_cast<Float>(frame));
    for (const std::string& warning : report.warnings)
      err << "tessamire eval: warning: frame " << frame << ": " << warning << "\n";
    if (!report.Ok())
      throw std::runtime_error(path + ": frame " + std::to_string(frame) + ": " +
                               report.errors.front());
    for (size_t i = 0; i < objects.size(); ++i)
      headless::WriteObj(
          (fs::path(dir) / (stems[i] + "_" + std::to_string(frame) + ".obj")).string(),
          headless::DeformedPoints(objects[i]), objects[i]->polygons);
    progress.Step("at frame " + std::to_string(frame));
  }
  progress.Finish();
  if (!quiet)
    out << "wrote " << total * static_cast<Int64>(objects.size()) << " meshes to " << dir << "\n";
  return kExitOk;
}

const SubcommandRegistration kEval(
    {[] {
       CommandSpec spec;
       spec.name = "eval";
       spec.operands = "SCENE";
       spec.minOperands = 1;
       spec.maxOperands = 1;
       spec.summary =
           "evaluate a saved scene over a range of frames and write each polygon object's "
           "deformed mesh per frame";
       spec.details =
           "Loads SCENE (- for the standard input), evaluates it at every frame from A to "
           "B (keyed joints first, then expression tags, then deformers in tree order) and "
           "writes each polygon object's deformed mesh as DIR/<object>_<frame>.obj. A range "
           "with A > B, a missing or damaged scene, or a DIR that is a file is refused "
           "before anything is written.";
       spec.options = {
           TextOption("--frames", "A:B", "the frames to evaluate, or one frame A",
                      "the frames the scene's joints are keyed over"),
           Required(TextOption("--out", "DIR",
                               "the folder receiving the meshes (created when its parent "
                               "exists)")),
           FlagOption("--quiet", "print no progress and no summary")};
       return spec;
     }(),
     RunEval});

}  // namespace
}  // namespace cli
