// Results as OBJ files, one per frame, each written like the frame's own file (or the rest's, for
// frames without one: a cache's samples): positions, normals turned with the surface and a
// material library's way change, every other byte as it was.
//
// Each result is finished under a temporary name as it is written, and renamed over its target
// once every frame has been read (beside the last frames' correction and writing): a frame at
// fault as input leaves nothing written, as though every frame had been checked first, while a
// result that cannot be written, or an interruption, keeps the results before it, as a run of one
// frame after another writes them. A result that cannot be renamed stops the run and keeps the
// results before it.
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "headless/batch/result_sink.h"
#include "headless/files/output_file.h"

namespace headless {

class ObjResults final : public ResultSink {
 public:
  // Frame i's result goes to `outputs[i]` ("-": the standard output); `like`, when given, is the
  // file results of frames without a file of their own are written like (and must outlive the
  // sink, with its text).
  ObjResults(std::vector<std::filesystem::path> outputs, const ObjFile* like);

  bool WritesLikeRest() const override { return like_ != nullptr; }
  bool WritesApart() const override { return true; }
  std::string Target(size_t i) const override { return outputs_[i].string(); }

  // Throws when the frame's file changed since it was read (ObjFrame::CheckUnchanged) or the
  // result cannot be written; nothing of it reaches its target then.
  void Write(size_t i, const InputFrame& frame, const std::vector<Vector3>& result) override;
  void OnceAllRead(size_t writtenBefore) override { CommitFinished(writtenBefore); }
  void Commit(size_t count) override { CommitFinished(count); }
  // Commits the results written unless a frame was at fault or a commit failed.
  void Abandon(size_t written, bool faultyFrame) override;

 private:
  // Renames the results of frames before `before` that wait under their temporary names.
  void CommitFinished(size_t before);

  std::vector<std::filesystem::path> outputs_;
  const ObjFile* like_ = nullptr;
  std::vector<std::unique_ptr<OutputFile>> finished_;  // per frame, once written
  bool commitFault_ = false;
};

}  // namespace headless
