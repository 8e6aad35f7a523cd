// What `tessamire apply` shows of its frames beyond the batch layer's own observers
// (headless/batch/observers.h): the report's rows, measured by the main job's pair measures, and
// the preview page, the page of `tessamire view` (headless/job/view_page.h).
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "headless/batch/frame_observer.h"
#include "headless/batch/frame_source.h"
#include "headless/geometry/mesh.h"
#include "headless/job/pair_measures.h"
#include "headless/job/view_page.h"
#include "web/page_template.h"

namespace cli {

// Per frame, the detail height error, edge change and hinge change of the input and of the
// corrected mesh against `rest` over the points of nonzero weight in `region` (every point when
// it is empty, read from `regionPath`), and the time the frame took, as rows of a table on `out`
// under its header. `rest` and `region` must outlive it.
class ReportRows final : public headless::FrameObserver {
 public:
  ReportRows(const headless::Mesh& rest, const std::vector<Float32>& region, std::string regionPath,
             std::ostream& out)
      : rest_(rest), region_(region), regionPath_(std::move(regionPath)), out_(out) {}
  bool WantsPoints() const override { return true; }
  void Begin() override;
  void Written(const headless::WrittenFrame& frame) override;

 private:
  const headless::Mesh& rest_;
  const std::vector<Float32>& region_;
  std::string regionPath_;
  std::ostream& out_;
  std::optional<headless::PairReference> reference_;
};

// The preview's page at `path`: the rest mesh `rest` (read from `restPath`), and the frames as
// given and corrected, coloured by the detail kept against the rest; frames past what a page holds
// are left out, with a note on `err`. `operands` are the frames as given, which name the input.
// `rest` and `frames` must outlive it.
class PreviewPage final : public headless::FrameObserver {
 public:
  PreviewPage(std::string path, const std::string& restPath, const headless::Mesh& rest,
              const std::vector<std::string>& operands, const headless::FrameSource& frames,
              std::ostream& err);
  bool WantsPoints() const override { return true; }
  void Begin() override;
  void Written(const headless::WrittenFrame& frame) override;
  void End() override { page_->Write(path_, web::PageTemplate()); }

 private:
  std::string path_;
  std::string restPath_;
  const headless::Mesh& rest_;
  std::string inputName_ = "input";
  const headless::FrameSource& frames_;
  std::ostream& err_;
  std::optional<headless::ViewPage> page_;
  Int32 input_ = 0, corrected_ = 0;
  size_t maxFrames_ = 0;
  bool increasing_ = true;
};

}  // namespace cli
