// The choice of one lane width per process: the widest the build carries and the processor runs,
// unless a test or a benchmark forces another.
#include "source/tessamireThreads/lane_kernels.h"

#include <atomic>

namespace {

const LaneKernels* Widest() {
  for (LaneWidth width : {LaneWidth::kWide512, LaneWidth::kWide}) {
    if (const LaneKernels* lanes = KernelsOf(width)) return lanes;
  }
  return &Lanes128();
}

// Null until the first call chooses; a forced width replaces it.
std::atomic<const LaneKernels*> g_active{nullptr};

}  // namespace

Bool BuildCarriesLaneWidth(LaneWidth width) {
  switch (width) {
    case LaneWidth::kPairs:
      return true;
    case LaneWidth::kWide:
      return Lanes256() != nullptr;
    case LaneWidth::kWide512:
      return Lanes512() != nullptr;
  }
  return false;
}

Bool ProcessorHasLaneWidth(LaneWidth width) {
  if (width == LaneWidth::kPairs) return true;
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
  // The checks also ask whether the system saves the registers.
  static const bool avx = __builtin_cpu_supports("avx");
  static const bool avx512 =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
  if (width == LaneWidth::kWide) return avx;
  if (width == LaneWidth::kWide512) return avx512;
#endif
  return false;
}

Bool LaneWidthAvailable(LaneWidth width) {
  return BuildCarriesLaneWidth(width) && ProcessorHasLaneWidth(width);
}

const LaneKernels* KernelsOf(LaneWidth width) {
  if (!LaneWidthAvailable(width)) return nullptr;
  switch (width) {
    case LaneWidth::kPairs:
      return &Lanes128();
    case LaneWidth::kWide:
      return Lanes256();
    case LaneWidth::kWide512:
      return Lanes512();
  }
  return nullptr;
}

const LaneKernels& ActiveLanes() {
  const LaneKernels* lanes = g_active.load(std::memory_order_acquire);
  if (lanes != nullptr) return *lanes;
  // Two first calls at once choose the same table; a width forced meanwhile wins.
  const LaneKernels* unchosen = nullptr;
  g_active.compare_exchange_strong(unchosen, Widest(), std::memory_order_acq_rel);
  return *g_active.load(std::memory_order_acquire);
}

LaneWidth ForceLaneWidth(LaneWidth width) {
  const LaneKernels* lanes = nullptr;
  for (LaneWidth w : {LaneWidth::kWide512, LaneWidth::kWide, LaneWidth::kPairs}) {
    if (static_cast<Int32>(w) <= static_cast<Int32>(width) && lanes == nullptr)
      lanes = KernelsOf(w);
  }
  g_active.store(lanes != nullptr ? lanes : &Lanes128(), std::memory_order_release);
  return ActiveLaneWidth();
}

LaneWidth UnforceLaneWidth() {
  g_active.store(Widest(), std::memory_order_release);
  return ActiveLaneWidth();
}
