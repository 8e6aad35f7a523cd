// `tessamire eval`: loads a saved scene, evaluates it at each frame of a range (keyed joints
// first, then the expression and deform passes) and writes every polygon object's deformed mesh:
// per frame as `<object>.<frame>.obj` (the frame zero-padded to 4 digits), or all frames in one
// point cache per object, `<object>.pc2` or `<object>.mdd`.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>

#include "cli/progress.h"
#include "cli/sequence.h"
#include "cli/subcommands.h"
#include "headless/host/deform.h"
#include "headless/host/evaluate.h"
#include "headless/host/platform.h"
#include "headless/host/point_cache.h"
#include "headless/host/skin.h"
#include "headless/io/obj.h"
#include "headless/io/point_cache.h"
#include "headless/io/scene_file.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

struct FrameRange {
  Int32 first = 0;
  Int32 last = 0;
};

// The frames the scene's keys and point caches span; frame 0 alone when nothing is keyed.
FrameRange KeyedRange(const headless::Document& doc) {
  bool any = false;
  Float lo = 0.0, hi = 0.0;
  for (const headless::Node* node : doc.Objects()) {
    std::vector<Float> frames;
    if (headless::IsJoint(node)) {
      const headless::JointKeys keys = headless::ReadJointKeys(node);
      for (const auto& k : keys.rotations) frames.push_back(k.frame);
      for (const auto& k : keys.transforms) frames.push_back(k.frame);
    } else if (node->type == headless::kPointCacheType) {
      frames = headless::PointCacheFrames(node);
    }
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

int RunEval(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {"--frames", "--out", "--plugins", "--format", "--fps"}, {"--quiet"}, parsed,
                 error)) {
    err << "tessamire eval: " << error << "\n";
    return kExitUsage;
  }
  if (parsed.positional.size() != 1) {
    err << "tessamire eval: needs one scene FILE\n";
    return kExitUsage;
  }
  const auto outIt = parsed.values.find("--out");
  if (outIt == parsed.values.end() || outIt->second.empty()) {
    err << "tessamire eval: --out DIR is required\n";
    return kExitUsage;
  }
  const auto framesIt = parsed.values.find("--frames");
  FrameRange range;
  if (framesIt != parsed.values.end() &&
      !ParseFrameRange(framesIt->second, range.first, range.last)) {
    err << "tessamire eval: --frames wants A:B with whole numbers A <= B (or one frame A), not \""
        << framesIt->second << "\"\n";
    return kExitUsage;
  }
  const auto formatIt = parsed.values.find("--format");
  const std::string format = formatIt == parsed.values.end() ? "obj" : formatIt->second;
  if (format != "obj" && format != "pc2" && format != "mdd") {
    err << "tessamire eval: --format wants obj, pc2 or mdd, not \"" << format << "\"\n";
    return kExitUsage;
  }
  Float fps = 30.0;
  if (const auto it = parsed.values.find("--fps");
      it != parsed.values.end() && !ParseFps(it->second, fps)) {
    err << "tessamire eval: --fps wants a positive number, not \"" << it->second << "\"\n";
    return kExitUsage;
  }
  const std::string path = parsed.positional.front();
  const bool quiet = parsed.flags.count("--quiet") != 0;
  const auto pluginsIt = parsed.values.find("--plugins");

  headless::PluginFolder folder;
  if (!StartPlugins(pluginsIt == parsed.values.end() ? "" : pluginsIt->second, folder, err))
    return kExitFailure;
  int code = kExitOk;
  try {
    std::unique_ptr<headless::Document> doc = headless::LoadScene(path);
    if (framesIt == parsed.values.end()) range = KeyedRange(*doc);
    std::vector<headless::Node*> objects;
    for (headless::Node* node : doc->Objects())
      if (node->IsPolygonObject()) objects.push_back(node);
    if (objects.empty()) throw std::runtime_error(path + ": the scene holds no polygon object");
    const std::vector<std::string> stems = FileStems(objects);
    const fs::path dir(outIt->second);
    std::error_code ec;
    if (fs::exists(dir, ec) && !fs::is_directory(dir, ec))
      throw std::runtime_error(dir.string() + ": exists and is not a folder");
    fs::create_directories(dir);

    const Int64 total = static_cast<Int64>(range.last) - range.first + 1;
    const bool cache = format != "obj";
    std::vector<headless::PointCache> caches(objects.size());
    for (headless::PointCache& c : caches) {
      c.format =
          format == "pc2" ? headless::PointCacheFormat::kPc2 : headless::PointCacheFormat::kMdd;
      c.startFrame = static_cast<Float32>(range.first);
    }
    headless::Progress progress(
        err, headless::ChooseProgressStyle(headless::platform::StderrIsTerminal(), quiet),
        "tessamire eval", "frame", total);
    for (Int64 frame = range.first; frame <= range.last; ++frame) {
      const headless::DeformReport report =
          headless::EvaluateDocumentAtFrame(*doc, static_cast<Float>(frame));
      for (const std::string& warning : report.warnings)
        err << "tessamire eval: warning: frame " << frame << ": " << warning << "\n";
      if (!report.Ok())
        throw std::runtime_error(path + ": frame " + std::to_string(frame) + ": " +
                                 report.errors.front());
      for (size_t i = 0; i < objects.size(); ++i) {
        const std::vector<Vector3>& points = headless::DeformedPoints(objects[i]);
        if (cache) {
          headless::AppendSample(caches[i], points);
          if (caches[i].format == headless::PointCacheFormat::kMdd)
            caches[i].times.push_back(static_cast<Float32>(static_cast<Float>(frame) / fps));
        } else {
          headless::WriteObj((dir / (stems[i] + "." + PaddedFrame(frame) + ".obj")).string(),
                             points, objects[i]->polygons);
        }
      }
      progress.Step("at frame " + std::to_string(frame));
    }
    for (size_t i = 0; cache && i < objects.size(); ++i)
      headless::WritePointCache((dir / (stems[i] + "." + format)).string(), caches[i]);
    progress.Finish();
    if (!quiet)
      out << "wrote "
          << (cache ? std::to_string(objects.size()) + " caches of " + std::to_string(total) +
                          " frames"
                    : std::to_string(total * static_cast<Int64>(objects.size())) + " meshes")
          << " to " << dir.string() << "\n";
  } catch (const std::exception& e) {
    err << "tessamire eval: " << e.what() << "\n";
    code = kExitFailure;
  }
  folder.Close();
  return code;
}

const SubcommandRegistration kEval(
    {"eval",
     "eval SCENE [--frames A:B] [--format obj|pc2|mdd] [--fps F] --out DIR [--quiet] "
     "[--plugins DIR]",
     "evaluate a saved scene at frames A to B (default: the frames its joints and point caches "
     "span) and write each polygon object's deformed mesh as DIR/<object>.<frame>.obj (frame "
     "zero-padded to 4 digits), or all frames as one cache DIR/<object>.pc2 or .mdd (MDD times "
     "are frame / F seconds, F default 30)",
     RunEval});

}  // namespace
}  // namespace cli
