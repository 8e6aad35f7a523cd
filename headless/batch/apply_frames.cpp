#include "headless/batch/apply_frames.h"

#include <array>
#include <chrono>
#include <utility>

#include "headless/batch/correction_rooms.h"
#include "headless/batch/frame_memory.h"
#include "headless/batch/frame_pipeline.h"
#include "headless/batch/rest_file.h"
#include "headless/files/interruption.h"

namespace headless {

namespace {

// Frame i lives in slot i % kPipelineSlots from its reading to its writing.
struct Slot {
  InputFrame frame;
  std::vector<Vector3> corrected;
  const std::vector<Vector3>* result = nullptr;  // `corrected`, or the correction's own
  DeformReport report;
  Float seconds = 0.0;
};

// One run: the stages of frame_pipeline.h over the slots.
class FramesRun {
 public:
  FramesRun(FrameSource& source, ResultSink& sink, Correction& correction,
            std::span<FrameObserver* const> observers, const ApplySettings& settings)
      : source_(source),
        sink_(sink),
        correction_(correction),
        observers_(observers),
        settings_(settings),
        total_(source.Count()) {}

  ApplySummary Run();

 private:
  Slot& SlotOf(size_t i) { return slots_[i % slots_.size()]; }
  void Read(size_t i);
  void Correct(size_t i);
  void Write(size_t i);
  // Everything observed, on the calling thread, once the frame is written.
  void Written(size_t i);
  // Whether an observer looks at frame i's input once it is written.
  bool PointsAgain(size_t i) const {
    for (const FrameObserver* observer : observers_)
      if (observer->WantsPointsOf(i)) return true;
    return false;
  }

  FrameSource& source_;
  ResultSink& sink_;
  Correction& correction_;
  std::span<FrameObserver* const> observers_;
  ApplySettings settings_;
  size_t total_ = 0;
  std::array<Slot, kPipelineSlots> slots_;
  FrameRooms rooms_;
  size_t framesWritten_ = 0;
  Int64 pointsKept_ = 0;
};

ApplySummary FramesRun::Run() {
  sink_.Begin();
  for (FrameObserver* observer : observers_) observer->Begin();
  FrameStages stages;
  stages.read = [this](size_t i) { Read(i); };
  stages.correct = [this](size_t i) { Correct(i); };
  stages.write = [this](size_t i) { Write(i); };
  stages.written = [this](size_t i) { Written(i); };
  stages.onceAllRead = [this](size_t writtenBefore) { sink_.OnceAllRead(writtenBefore); };
  stages.writesApart = sink_.WritesApart();
  try {
    RunFrames(total_, stages, settings_.pipelined);
  } catch (...) {
    sink_.Abandon(framesWritten_, source_.FoundFaultyFrame());
    throw;
  }
  sink_.Commit(total_);
  for (FrameObserver* observer : observers_) observer->End();
  return {pointsKept_};
}

void FramesRun::Read(size_t i) {
  StopIfInterrupted();
  Slot& slot = SlotOf(i);
  slot.frame.obj.reset();
  source_.Read(i, slot.frame, rooms_);
}

void FramesRun::Correct(size_t i) {
  Slot& slot = SlotOf(i);
  const auto start = std::chrono::steady_clock::now();
  // The input again only for the observers or turning normals; else the correction takes its
  // array, and gives it back as room for the frame read in the next step.
  std::vector<Vector3>* own =
      PointsAgain(i) || slot.frame.PointsNeededToWrite() ? nullptr : &slot.frame.Points();
  slot.report = own ? correction_.Correct(std::move(*own), source_.Name(i), settings_.smoothed)
                    : correction_.Correct(std::as_const(slot.frame).Points(), source_.Name(i),
                                          settings_.smoothed);
  slot.seconds = std::chrono::duration<Float>(std::chrono::steady_clock::now() - start).count();
  if (own && i + 2 < total_) rooms_.points.Put(CorrectionRooms::TakeInput(correction_));
  // Results are taken from the correction but for the last frame's: the next frame's correction
  // builds its own while this one is written.
  if (i + 1 == total_) {
    slot.result = &correction_.Result();
  } else {
    slot.corrected = CorrectionRooms::TakeResult(correction_);
    slot.result = &slot.corrected;
  }
}

void FramesRun::Write(size_t i) {
  const Slot& slot = SlotOf(i);
  sink_.Write(i, slot.frame, *slot.result);
}

void FramesRun::Written(size_t i) {
  framesWritten_ = i + 1;
  Slot& slot = SlotOf(i);
  pointsKept_ += slot.report.PointsKept();
  const WrittenFrame frame{i,
                           total_,
                           source_.Name(i),
                           sink_.Target(i),
                           std::as_const(slot.frame).Points(),
                           *slot.result,
                           slot.report,
                           slot.seconds};
  for (FrameObserver* observer : observers_) observer->Written(frame);
  // A frame's arrays go as soon as it is written, not when its slot is taken again; its result's
  // goes back to the correction for the next result.
  if (slot.frame.obj && i + 3 < total_)
    rooms_.spans.Put(std::move(slot.frame.obj->file.pointSpans));
  slot.frame.obj.reset();
  CorrectionRooms::GiveBackRoom(correction_, std::move(slot.corrected));
  Release(slot.frame.sample);
}

}  // namespace

void ReadBeforeBind(ObjFile& rest, FrameSource& source, const ResultSink& sink) {
  source.KeepFromRest();
  // The rest's text is written again only as the OBJ result of a cache's sample (frames of OBJ
  // files are written like themselves).
  if (!sink.WritesLikeRest()) ReleaseObjText(rest);
  source.ReadAhead();
  // With every frame kept from the check, or a cache's samples, no frame is read again: the
  // rest's faces, kept to check frames against, can go (a glTF and a rest with normals still need
  // them).
  if (!source.ChecksAgainstRestFaces() && !sink.NeedsRestMesh() && rest.normals.empty())
    ReleaseObjFaces(rest);
}

ApplySummary ApplyFrames(FrameSource& source, ResultSink& sink, Correction& correction,
                         std::span<FrameObserver* const> observers, const ApplySettings& settings) {
  return FramesRun(source, sink, correction, observers, settings).Run();
}

}  // namespace headless
