// Pictures of any OBJ meshes, as `tessamire render` draws them: each mesh in a panel of its own
// labelled with its file name, all from one camera under the grazing light
// (headless/picture/side_by_side.h), coloured per point by the detail it keeps against a rest mesh
// (detail_picture.h) or by its distance to the same point of another mesh, and framed on the
// points of nonzero weight when a focus is given. Written as one picture, as a turntable (pictures
// around the vertical axis and a contact sheet of them) or as a movie through ffmpeg
// (headless/picture/movie.h); how far a run is goes to a ProgressObserver.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "headless/batch/progress_observer.h"
#include "headless/geometry/box.h"
#include "headless/geometry/mesh.h"
#include "headless/job/pair_measures.h"
#include "headless/picture/image.h"
#include "headless/picture/side_by_side.h"
#include "host/abi/types.h"

namespace headless {

// The size of each mesh's panel in pixels.
struct PanelSize {
  Int32 width = 480;
  Int32 height = 480;
};

// What the pictures show. The paths are named in messages as given; an empty one is not used.
struct MeshPictureSettings {
  PanelSize size;
  std::string view = "three-quarter";             // a named view (side_by_side.h)
  std::optional<std::pair<Float, Float>> angles;  // azimuth and elevation instead (AngleView)
  bool zUp = false;                               // the meshes' up is +Z
  std::string detailRest;                         // colours by the detail kept against this OBJ
  std::string distanceOther;                      // colours by the distance to this OBJ's points
  std::string focusWeights;  // frames the points of nonzero weight in this weights file
};

// The label of the mesh at `path`: its file name ("standard input" for "-").
std::string PanelLabel(const std::string& path);

// One panel: a mesh, its label and its colours (none: shaded alone).
struct Panel {
  std::string label;
  Mesh mesh;
  std::vector<Rgb> colours;
  std::vector<Float> distances;  // with a distance mesh, one per point
};

// The largest distance of the panels (0 without a distance mesh).
Float LargestDistance(const std::vector<Panel>& panels);

// The meshes the settings name read, and how panels are coloured and drawn with them.
class MeshPictures {
 public:
  // Reads the distance mesh, then the rest mesh. Throws std::runtime_error naming a file that
  // cannot be read or a rest mesh that cannot be measured.
  explicit MeshPictures(MeshPictureSettings settings);

  // The view of turn `k` of `turns` (one turn: the chosen view).
  View TurnView(Int64 k, Int64 turns) const;
  // The mesh at `path` with its detail-kept colours (unless `kept` is false) and its distances.
  // Throws std::runtime_error when its point count is not the rest's or the distance mesh's.
  Panel Load(const std::string& path, bool kept = true) const;
  // The top of the distance scale, and the panels coloured on it.
  void SetDistanceMax(Float max) { distanceMax_ = max; }
  void ColourDistances(std::vector<Panel>& panels) const;
  // With a focus: the box of the points whose weight is not 0 in the panels of the weights'
  // point count (read for the first panel's the first time), grown into `focus`.
  void GrowFocus(const std::vector<Panel>& panels, std::optional<Box>& focus);
  // Throws std::runtime_error when a focus was asked for and `focus` found no point.
  void CheckFocus(const std::optional<Box>& focus) const;

  std::vector<MeshView> Views(const std::vector<Panel>& panels) const;
  // The panels from `camera` at `size` each, with the legend of their colours below; `small`
  // writes the labels small (a contact sheet's).
  Image Picture(const std::vector<MeshView>& views, const Camera& camera, PanelSize size,
                bool small = false) const;
  Int32 LegendHeight() const;
  PanelSize Size() const { return settings_.size; }

 private:
  MeshPictureSettings settings_;
  std::string restName_;
  std::optional<Mesh> rest_;
  std::optional<PairReference> reference_;
  std::string otherName_;
  std::optional<Mesh> other_;
  Float distanceMax_ = 0.0;
  std::optional<std::vector<Float32>> focus_;
};

// The meshes of one picture, or of a turntable's pictures: loaded in order, coloured, and the
// corners of their focus (none without one: the meshes frame themselves).
struct StillPanels {
  std::vector<Panel> panels;
  std::vector<Vector3> focusCorners;
};

// Loads the meshes at `paths` into panels. Throws Interrupted on Ctrl-C between meshes.
StillPanels LoadStillPanels(MeshPictures& pictures, const std::vector<std::string>& paths);

// How many steps drawing one picture of `still` reports: 2 when its meshes are large enough to
// take a while (read, drawn), 0 otherwise.
Int64 PictureSteps(const StillPanels& still);
// The picture at `path` (PNG, "-" the standard output), reported as PictureSteps says.
void WritePicture(const MeshPictures& pictures, const StillPanels& still, const std::string& path,
                  ProgressObserver& progress);

// Turn or frame `k` of a picture series beside `path`: PIC.png -> PIC.0001.png.
std::string NumberedPicture(const std::string& path, Int64 k);
// `turns` pictures around the vertical axis, each at NumberedPicture(path, k + 1), and a contact
// sheet of them (at half size, in rows) at `path`; a step per picture.
void WriteTurntable(const MeshPictures& pictures, const StillPanels& still, Int64 turns,
                    const std::string& path, ProgressObserver& progress);

// One column of a movie: its files, one per frame, and the label its panel keeps throughout
// (empty: each frame's file name).
struct MovieColumn {
  std::vector<std::string> files;
  std::string label;
};

// The columns (of as many frames each) side by side as a movie at `path`, through the ffmpeg
// program `encoder` at `fps` (as ffmpeg reads a rate). One camera and one colour scale serve the
// whole movie: a first pass reads every frame for the bounds (or the focus) and the largest
// distance. The output folder is made then; a step per frame.
void WriteMovie(MeshPictures& pictures, const std::string& encoder,
                const std::vector<MovieColumn>& columns, const std::string& path,
                const std::string& fps, ProgressObserver& progress);

}  // namespace headless
