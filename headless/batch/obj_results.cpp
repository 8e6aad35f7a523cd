#include "headless/batch/obj_results.h"
#include "headless/io/obj_write.h"

#include <utility>

namespace headless {

ObjResults::ObjResults(std::vector<std::filesystem::path> outputs, const ObjFile* like)
    : outputs_(std::move(outputs)), like_(like), finished_(outputs_.size()) {}

void ObjResults::Write(size_t i, const InputFrame& frame, const std::vector<Vector3>& result) {
  if (frame.obj) frame.obj->CheckUnchanged();
  auto file = std::make_unique<OutputFile>(outputs_[i].string());
  WriteObjLike(*file, frame.obj ? frame.obj->file : *like_, result);
  file->Finish();
  finished_[i] = std::move(file);
}

void ObjResults::CommitFinished(size_t before) {
  for (size_t i = 0; i < before; ++i) {
    if (!finished_[i]) continue;
    try {
      finished_[i]->Commit();
    } catch (...) {
      commitFault_ = true;
      throw;
    }
  }
}

void ObjResults::Abandon(size_t written, bool faultyFrame) {
  if (!faultyFrame && !commitFault_) CommitFinished(written);
}

}  // namespace headless
