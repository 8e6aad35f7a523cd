"""Detail-restoring correction of deformed meshes by the Tessamire plug-in, on numpy arrays."""

import os
from typing import Any, Callable, Literal, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

__version__: str

Faces = Union[Sequence[Sequence[int]], npt.NDArray[np.integer]]
Points = npt.ArrayLike
Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]
# Called between frames with (frames done, frames in all).
Progress = Optional[Callable[[int, int], Any]]


def load_plugins(folder: Optional[Path] = None) -> str:
    """Load the plug-ins of `folder` (empty: $TESSAMIRE_PLUGINS, else beside the module)."""


def close_plugins() -> None:
    """Close the plug-ins once running evaluations end."""


def plugin_folder() -> Optional[str]:
    """The plug-in folder loaded, or None."""


class Correction:
    """A rest mesh bound for correction by the plug-in."""

    def __init__(self, rest_points: Points, faces: Faces, *,
                 iterations: Optional[int] = None, weighting: Optional[int] = None,
                 pin_border: Optional[int] = None, strength: Optional[float] = None,
                 vertex_map: Optional[Points] = None, restriction: Optional[Points] = None,
                 threads: Optional[int] = None, settings: Optional[Literal["auto"]] = None,
                 frames: Optional[Points] = None) -> None:
        """Bind `rest_points` (N, 3) with `faces`; None keeps a setting's default.

        settings="auto": the settings not given take tune's recommendation on the skinned
        `frames` (F, N, 3).
        """

    def apply(self, points: Points, *, progress: Progress = None) -> npt.NDArray[np.float64]:
        """The corrected points: (N, 3) -> (N, 3), (F, N, 3) -> (F, N, 3)."""

    def smoothed(self, points: Points, *, progress: Progress = None) -> npt.NDArray[np.float64]:
        """The smoothed mesh the correction of `points` is built on."""

    @property
    def point_count(self) -> int:
        """The number of points of the rest mesh."""

    @property
    def threads(self) -> int:
        """The workers of this correction's evaluations (0: one per hardware thread)."""

    @property
    def rest_points(self) -> npt.NDArray[np.float64]:
        """A copy of the rest points, (N, 3)."""

    def __getstate__(self) -> dict[str, Any]:
        """Rest points, faces, settings, threads and the bind record: a copy corrects to the
        same bits without binding again."""

    def __setstate__(self, state: dict[str, Any]) -> None:
        """Restore a pickled Correction; ValueError names what is wrong with `state`."""

    @property
    def faces(self) -> npt.NDArray[np.int32]:
        """The bound polygons, (M, 4) in the host's layout (a triangle repeats its third index)."""

    @property
    def settings(self) -> dict[str, Union[int, float, None]]:
        """The settings set on the bind tag, given or chosen by "auto" (None: the default)."""

    @property
    def points_kept(self) -> int:
        """Points of the last call that kept their input position (correction not finite)."""


class ObjMesh:
    """An OBJ file as read: points, faces and the rest of the file."""

    @property
    def points(self) -> npt.NDArray[np.float64]:
        """The points, (N, 3), in `v` order."""

    @property
    def faces(self) -> npt.NDArray[np.int32]:
        """The polygons handed to the host, (M, 4) (large faces fanned into triangles)."""

    @property
    def file_faces(self) -> tuple[npt.NDArray[np.int32], npt.NDArray[np.int32]]:
        """The file's own faces: (corner count per face, 0-based point per corner)."""

    @property
    def name(self) -> str:
        """The file's name."""


def read_obj(path: Path) -> ObjMesh:
    """Read an OBJ file; OSError when it cannot be read or is not sound."""


def write_obj(path: Path, points: Points, *, like: Optional[ObjMesh] = None,
              faces: Optional[Faces] = None) -> None:
    """Write `points` like an ObjMesh read before, or as a plain OBJ of `faces`."""


class PointCache:
    """The samples of a PC2 or MDD point cache."""

    @property
    def frames(self) -> npt.NDArray[np.float64]:
        """The samples, (F, N, 3)."""

    @property
    def format(self) -> str:
        """'pc2' or 'mdd'."""

    @property
    def start(self) -> Optional[float]:
        """A PC2 file's first frame; None for MDD."""

    @property
    def rate(self) -> Optional[float]:
        """A PC2 file's frames between samples; None for MDD."""

    @property
    def times(self) -> Optional[npt.NDArray[np.float32]]:
        """An MDD file's time of each sample in seconds; None for PC2."""


def read_cache(path: Path) -> PointCache:
    """Read a PC2 or MDD point cache (by its extension)."""


def write_cache(path: Path, frames: Points, *, start: float = 0.0, rate: float = 1.0,
                times: Optional[Points] = None) -> None:
    """Write `frames` (F, N, 3) as a PC2 (start, rate) or MDD (times) point cache."""


class CharacterMesh:
    """One skinned mesh of an imported character."""

    @property
    def name(self) -> str:
        """The mesh's name."""

    @property
    def points(self) -> npt.NDArray[np.float64]:
        """The rest points, (N, 3)."""

    @property
    def faces(self) -> npt.NDArray[np.int32]:
        """The polygons, (M, 4) in the host's layout."""

    @property
    def joints(self) -> list[str]:
        """The names of the joints that bend it."""

    @property
    def weights(self) -> npt.NDArray[np.float32]:
        """Per joint, per point: the skin weights, (J, N)."""

    @property
    def frames(self) -> npt.NDArray[np.float64]:
        """The skinned points of every frame of the animation, (F, N, 3)."""

    @property
    def file_points(self) -> npt.NDArray[np.float64]:
        """The file's own vertices at rest, (V, 3), as `tessamire correct` writes them."""

    @property
    def file_to_point(self) -> npt.NDArray[np.int32]:
        """Per file vertex, the point it sits on, (V,)."""

    @property
    def uvs(self) -> Optional[npt.NDArray[np.float32]]:
        """The file's texture coordinates per vertex, (V, 2); None when it gave none."""

    @property
    def normals(self) -> Optional[npt.NDArray[np.float64]]:
        """The file's normals per vertex at rest, (V, 3); None when it gave none."""

    @property
    def file_faces(self) -> Optional[tuple[npt.NDArray[np.int32], npt.NDArray[np.int32]]]:
        """The file's faces over its vertices as (counts, corners); None without file vertices."""


class Character:
    """A rigged character as imported."""

    @property
    def meshes(self) -> list[CharacterMesh]:
        """The skinned meshes."""

    @property
    def notes(self) -> list[str]:
        """What could not be carried over, in words."""

    @property
    def fps(self) -> float:
        """The frames per second the animation was sampled at."""

    @property
    def clip(self) -> Optional[str]:
        """The name of the animation imported; None when the file has none."""


def import_character(path: Path,
                     clip: Optional[Union[str, int, Sequence[Union[str, int]]]] = None, *,
                     fps: Optional[float] = None, all_clips: bool = False,
                     progress: Progress = None,
                     asset_root: Optional[Path] = None) -> Character:
    """Import a rigged, animated character with its skinned frames."""


def apply(rest: Path, inputs: Union[Path, Sequence[Path]], out: Path, *,
          frames: Optional[tuple[int, int]] = None, iterations: Optional[int] = None,
          weighting: Optional[int] = None, pin_border: Optional[int] = None,
          strength: Optional[float] = None, fps: Optional[float] = None,
          smoothed: bool = False, threads: Optional[int] = None,
          progress: Progress = None) -> dict[str, Any]:
    """Correct frames of `rest` file to file as `tessamire apply` does: a cache, OBJ files or a
    numbered pattern in; a .pc2/.mdd cache, a .glb or a numbered pattern out."""


def correct(path: Path, *, out: Optional[Path] = None,
            format: Literal["obj", "pc2", "mdd", "glb"] = "obj",
            clip: Optional[Union[str, int, Sequence[Union[str, int]]]] = None,
            all_clips: bool = False, fps: Optional[float] = None,
            frames: Optional[Union[int, tuple[int, int]]] = None,
            iterations: Optional[int] = None, weighting: Optional[int] = None,
            pin_border: Optional[int] = None, strength: Optional[float] = None,
            settings: Optional[Literal["auto"]] = None, bind_frame: Optional[float] = None,
            welded: bool = False, with_skinned: bool = False,
            pose_check: Optional[float] = 0.5, asset_root: Optional[Path] = None,
            threads: Optional[int] = None, progress: Progress = None) -> dict[str, Any]:
    """Correct a character as `tessamire correct` does: out=DIR writes the same files and
    answers {'written', 'points_kept'}; without out, per mesh (by its files' stem) the corrected
    frames (F, V, 3) on the file's vertices."""


def bake(path: Path, out: Path,
         clip: Optional[Union[str, int, Sequence[Union[str, int]]]] = None, *,
         all_clips: bool = False, range_of_motion: Optional[float] = None,
         influences: int = 4, holdout: int = 4, report: bool = False,
         smoothness: Optional[float] = None) -> dict[str, Any]:
    """Skin weights that play the correction by plain skinning, written as a skinned glTF."""


class Scene:
    """A scene file's document, evaluated the way the host does."""

    @staticmethod
    def load(path: Path) -> "Scene":
        """Load a scene file; OSError when it cannot be read or is not sound."""

    @staticmethod
    def import_character(path: Path,
                         clip: Optional[Union[str, int, Sequence[Union[str, int]]]] = None, *,
                         fps: Optional[float] = None, all_clips: bool = False,
                         asset_root: Optional[Path] = None) -> "Scene":
        """A rigged character as a scene, as `tessamire scene import` makes it."""

    def command(self, name: Union[str, int], objects: Sequence[str] = (),
                keys: Sequence[Literal["shift", "ctrl"]] = ()) -> dict[str, Any]:
        """Run a registered command on the objects named, with the keys held."""

    def set(self, name: str, value: Union[int, float, bool, str], *,
            node: Optional[str] = None) -> dict[str, Any]:
        """Set a parameter of the node at path `node` as the attribute view does."""

    def press(self, button: str, *, node: Optional[str] = None) -> dict[str, Any]:
        """Press a button of the node at path `node` as a click does."""

    def save(self, path: Path) -> None:
        """Save the scene, replacing the file as a whole or not at all."""

    @property
    def objects(self) -> list[str]:
        """The names of the scene's polygon objects, in tree order."""

    def evaluate(self, frame: float) -> dict[str, npt.NDArray[np.float64]]:
        """Each polygon object's deformed points at `frame`, by name."""
