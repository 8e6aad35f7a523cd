"""Detail-restoring correction of deformed meshes by the Tessamire plug-in, on numpy arrays.

The plug-in is found beside the package (its build tree, its installed tree or the plug-in
folder a wheel carries), in $TESSAMIRE_PLUGINS, or where load_plugins() says. Notes the command
line prints (what an import could not carry over, points kept at their input) go to the logger
``tessamire``.

The compiled module ``tessamire._tessamire`` does the work; the calls here give it Python's
signatures, so that a misspelt or missing argument raises Python's own one-line TypeError.
"""

from __future__ import annotations

import logging
from typing import Any, Callable, Optional

from . import _tessamire
from ._tessamire import (Character, CharacterMesh, ObjMesh, PointCache, Scene, _testing,
                         close_plugins, load_plugins, plugin_folder, read_cache, read_obj)

__version__: str = _tessamire.__version__
__all__ = ["Character", "CharacterMesh", "Correction", "ObjMesh", "PointCache", "Scene", "apply",
           "bake", "close_plugins", "correct", "import_character", "load_plugins",
           "plugin_folder", "read_cache", "read_obj", "write_cache", "write_obj"]

logging.getLogger(__name__).addHandler(logging.NullHandler())

Progress = Optional[Callable[[int, int], Any]]


def _described(doc: Optional[str]) -> Optional[str]:
    """A compiled call's docstring without its first line, the compiled call's own signature."""
    if doc and " -> " in doc.split("\n", 1)[0] and "\n\n" in doc:
        return doc.split("\n\n", 1)[1]
    return doc


class Correction(_tessamire.Correction):
    __doc__ = _tessamire.Correction.__doc__

    def __init__(self, rest_points: Any, faces: Any, *, iterations: Optional[int] = None,
                 weighting: Optional[int] = None, pin_border: Optional[int] = None,
                 strength: Optional[float] = None, vertex_map: Any = None,
                 restriction: Any = None, threads: Optional[int] = None,
                 settings: Optional[str] = None, frames: Any = None) -> None:
        super().__init__(rest_points, faces, iterations, weighting, pin_border, strength,
                         vertex_map, restriction, threads, settings, frames)

    def apply(self, points: Any, *, progress: Progress = None) -> Any:
        return super().apply(points, progress)

    def smoothed(self, points: Any, *, progress: Progress = None) -> Any:
        return super().smoothed(points, progress)

    __init__.__doc__ = _described(_tessamire.Correction.__init__.__doc__)
    apply.__doc__ = _described(_tessamire.Correction.apply.__doc__)
    smoothed.__doc__ = _described(_tessamire.Correction.smoothed.__doc__)


def write_obj(path: Any, points: Any, *, like: Optional[ObjMesh] = None,
              faces: Any = None) -> None:
    _tessamire.write_obj(path, points, like, faces)


def write_cache(path: Any, frames: Any, *, start: float = 0.0, rate: float = 1.0,
                times: Any = None) -> None:
    _tessamire.write_cache(path, frames, start, rate, times)


def import_character(path: Any, clip: Any = None, *, fps: Optional[float] = None,
                     all_clips: bool = False, progress: Progress = None,
                     asset_root: Any = None) -> Character:
    return _tessamire.import_character(path, clip, fps, all_clips, progress,
                                       asset_root)


def correct(path: Any, *, out: Any = None, format: str = "obj", clip: Any = None,
            all_clips: bool = False, fps: Optional[float] = None, frames: Any = None,
            iterations: Optional[int] = None, weighting: Optional[int] = None,
            pin_border: Optional[int] = None, strength: Optional[float] = None,
            settings: Optional[str] = None, bind_frame: Optional[float] = None,
            welded: bool = False, with_skinned: bool = False,
            pose_check: Optional[float] = 0.5, asset_root: Any = None,
            threads: Optional[int] = None, progress: Progress = None) -> dict[str, Any]:
    return _tessamire.correct(path, out, format, clip, all_clips, fps, frames, iterations,
                              weighting, pin_border, strength, settings, bind_frame, welded,
                              with_skinned, pose_check, asset_root, threads, progress)


def apply(rest: Any, inputs: Any, out: Any, *, frames: Any = None,
          iterations: Optional[int] = None, weighting: Optional[int] = None,
          pin_border: Optional[int] = None, strength: Optional[float] = None,
          fps: Optional[float] = None, smoothed: bool = False, threads: Optional[int] = None,
          progress: Progress = None) -> dict[str, Any]:
    return _tessamire.apply(rest, inputs, out, frames, iterations, weighting, pin_border,
                            strength, fps, smoothed, threads, progress)


def bake(path: Any, out: Any, clip: Any = None, *, all_clips: bool = False,
         range_of_motion: Optional[float] = None, influences: int = 4, holdout: int = 4,
         report: bool = False, smoothness: Optional[float] = None) -> dict[str, Any]:
    return _tessamire.bake(path, out, clip, all_clips, range_of_motion, influences, holdout,
                           report, smoothness)


for _call in (write_obj, write_cache, import_character, correct, apply, bake):
    _call.__doc__ = _described(getattr(_tessamire, _call.__name__).__doc__)
del _call
