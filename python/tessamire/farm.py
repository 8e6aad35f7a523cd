"""A farm of shots on Dask: each shot's frames corrected in ranges by worker processes and
stitched into the files one `tessamire correct` or `tessamire apply` of the shot writes.

    python3 -m tessamire.farm SHOTS.toml [--scheduler ADDRESS] [--workers N] [--chunk N]

A shot is a rigged character (``character``, with ``clip``, ``fps``, ``frames``, ``format`` and
``out``, a folder) or a rest mesh (``rest``) with a point cache (``cache``; ``out`` a cache of the
same format) or a numbered OBJ sequence (``sequence`` such as ``walk.####.obj`` with ``frames``;
``out`` a pattern such as ``out/walk.####.obj``), and the bind tag's settings. Without a
scheduler a local cluster of worker processes runs the shots; every worker must see the inputs
and outputs at the same paths as the caller. A shot whose stamp (``<name>.farm-stamp.json``,
written last beside its outputs) records the same inputs, settings and program version is
skipped.
"""

from __future__ import annotations

import argparse
import dataclasses
import glob
import json
import logging
import os
import re
import shutil
import sys
import tomllib
import uuid
from typing import Any, Callable, Iterable, Optional, Union

import numpy as np

import tessamire
from tessamire import _tessamire

FORMATS = ("obj", "pc2", "mdd", "glb")
SETTINGS = ("iterations", "weighting", "pin_border", "strength")
# Every key a shot may hold, and the type each wants.
SHOT_KEYS = {"name": str, "character": str, "clip": (str, int), "fps": (int, float),
             "frames": list, "format": str, "rest": str, "cache": str, "sequence": str,
             "out": str, "iterations": int, "weighting": int, "pin_border": int,
             "strength": (int, float), "settings": str}
LIST_KEYS = {"shots", "defaults", "chunk"}
DEFAULT_CHUNK = 24
PARTS = ".tessamire-farm"
STAMP = ".farm-stamp.json"
# The test switch: the worker process that first reaches its N-th task exits during it.
EXIT_SWITCH = "TESSAMIRE_FARM_TEST_EXIT_ON_TASK"


class ShotError(ValueError):
    """A shot of the list at fault, naming the shot and the key."""


@dataclasses.dataclass
class Shot:
    name: str
    out: str
    character: Optional[str] = None
    clip: Union[str, int, None] = None
    fps: Optional[float] = None
    frames: Optional[tuple[int, int]] = None
    format: str = "obj"
    rest: Optional[str] = None
    cache: Optional[str] = None
    sequence: Optional[str] = None
    settings: dict[str, Any] = dataclasses.field(default_factory=dict)

    def folder(self) -> str:
        """Where the shot's outputs and its stamp go."""
        return self.out if self.character else os.path.dirname(self.out) or "."

    def stamp_path(self) -> str:
        return os.path.join(self.folder(), self.name + STAMP)


# --- The list of shots ------------------------------------------------------------------------

def _fault(shot: str, key: str, why: str) -> ShotError:
    return ShotError(f"shot {shot}: {key}: {why}")


def _frames(value: Any, shot: str) -> tuple[int, int]:
    if (not isinstance(value, list) or len(value) != 2
            or not all(isinstance(v, int) and not isinstance(v, bool) for v in value)):
        raise _fault(shot, "frames", f"wants [first, last] whole numbers, not {value!r}")
    if value[0] > value[1]:
        raise _fault(shot, "frames", f"the first frame {value[0]} is after the last {value[1]}")
    return value[0], value[1]


def _checked_types(table: dict[str, Any], shot: str) -> None:
    for key, value in table.items():
        if key not in SHOT_KEYS:
            raise _fault(shot, key, "no shot takes this key (it takes "
                         + ", ".join(sorted(SHOT_KEYS)) + ")")
        wanted = SHOT_KEYS[key]
        if isinstance(value, bool) or not isinstance(value, wanted):
            names = (wanted,) if isinstance(wanted, type) else wanted
            raise _fault(shot, key, "wants " + " or ".join(t.__name__ for t in names)
                         + f", not {value!r}")


def _exactly_one(table: dict[str, Any], keys: tuple[str, ...], shot: str) -> str:
    given = [k for k in keys if k in table]
    if len(given) != 1:
        raise _fault(shot, "/".join(keys), "give exactly one of them"
                     + (f" (given: {', '.join(given)})" if given else ""))
    return given[0]


def _path(value: str, base: str) -> str:
    return os.path.abspath(os.path.join(base, os.path.expanduser(value)))


def make_shot(table: dict[str, Any], base: str = ".", label: Optional[str] = None) -> Shot:
    """A shot from its table (paths relative to `base`). Raises ShotError naming the shot and
    the key for a key unknown, missing, of the wrong type or out of place."""
    shot = str(table.get("name", label or "?"))
    _checked_types(table, shot)
    for key in ("name", "out"):
        if key not in table:
            raise _fault(shot, key, "missing")
    kind = _exactly_one(table, ("character", "rest"), shot)
    settings = {k: table[k] for k in SETTINGS if k in table}
    for key in SETTINGS:
        if key in table and key != "strength" and table[key] < 0:
            raise _fault(shot, key, f"wants a whole number from 0, not {table[key]}")
    result = Shot(name=table["name"], out=_path(table["out"], base), settings=settings)
    if not re.fullmatch(r"[A-Za-z0-9_.-]+", result.name):
        raise _fault(shot, "name", "letters, digits, '.', '-' and '_' only: it names the stamp")
    if "frames" in table:
        result.frames = _frames(table["frames"], shot)
    if kind == "character":
        for key in ("cache", "sequence"):
            if key in table:
                raise _fault(shot, key, "a character shot takes no " + key + "; give rest=")
        result.character = _path(table["character"], base)
        result.clip = table.get("clip")
        result.fps = table.get("fps")
        result.format = table.get("format", "obj")
        if result.format not in FORMATS:
            raise _fault(shot, "format", f"wants one of {', '.join(FORMATS)}, not "
                         f"{result.format!r}")
        if "settings" in table:
            if table["settings"] != "auto":
                raise _fault(shot, "settings", f"wants 'auto', not {table['settings']!r}")
            result.settings["settings"] = "auto"
        return result
    for key in ("clip", "fps", "format", "settings"):
        if key in table:
            raise _fault(shot, key, "a rest mesh's shot takes no " + key)
    result.rest = _path(table["rest"], base)
    source = _exactly_one(table, ("cache", "sequence"), shot)
    if source == "cache":
        result.cache = _path(table["cache"], base)
        extension = os.path.splitext(result.cache)[1].lower()
        if extension not in (".pc2", ".mdd"):
            raise _fault(shot, "cache", "a point cache is named .pc2 or .mdd")
        if os.path.splitext(result.out)[1].lower() != extension:
            raise _fault(shot, "out", f"the corrected cache is a {extension} file like its input")
        if result.frames is not None:
            raise _fault(shot, "frames", "a cache's shot corrects every sample of the cache")
    else:
        result.sequence = _path(table["sequence"], base)
        for key, pattern in (("sequence", result.sequence), ("out", result.out)):
            if "#" not in os.path.basename(pattern):
                raise _fault(shot, key, "a numbered sequence names its frames with #### "
                             f"(walk.####.obj), not {pattern!r}")
        if result.frames is None:
            raise _fault(shot, "frames", "a sequence's shot wants [first, last]")
    return result


def load_shots(path: Union[str, os.PathLike]) -> tuple[list[Shot], Optional[int]]:
    """The shots of a TOML file (paths relative to its folder) and its chunk (frames per task,
    or None). Raises ShotError naming the shot and the key, OSError when it cannot be read."""
    with open(path, "rb") as file:
        try:
            document = tomllib.load(file)
        except tomllib.TOMLDecodeError as error:
            raise ShotError(f"{os.fspath(path)}: not TOML: {error}") from None
    for key in document:
        if key not in LIST_KEYS:
            raise ShotError(f"{os.fspath(path)}: {key}: not a key of a list of shots (it takes "
                            + ", ".join(sorted(LIST_KEYS)) + ")")
    chunk = document.get("chunk")
    if chunk is not None and (not isinstance(chunk, int) or isinstance(chunk, bool)
                              or chunk < 1):
        raise ShotError(f"{os.fspath(path)}: chunk: wants a whole number of frames from 1, "
                        f"not {chunk!r}")
    defaults = document.get("defaults", {})
    if not isinstance(defaults, dict):
        raise ShotError(f"{os.fspath(path)}: defaults: wants a table of shot keys")
    tables = document.get("shots")
    if not isinstance(tables, list) or not tables:
        raise ShotError(f"{os.fspath(path)}: shots: wants one [[shots]] table or more")
    base = os.path.dirname(os.path.abspath(path))
    shots = [make_shot({**defaults, **table}, base, f"shots[{i}]")
             for i, table in enumerate(tables)]
    return check_apart(shots), chunk


def check_apart(shots: list[Shot]) -> list[Shot]:
    """Refuses two shots of one name or one output, naming them."""
    names: dict[str, str] = {}
    outs: dict[str, str] = {}
    for shot in shots:
        if shot.name in names:
            raise _fault(shot.name, "name", "two shots have this name")
        names[shot.name] = shot.name
        out = os.path.abspath(shot.out)
        if out in outs:
            raise _fault(shot.name, "out", f"shot {outs[out]} writes there too")
        outs[out] = shot.name
    return shots


# --- Stamps -----------------------------------------------------------------------------------

def _numbered(pattern: str, frame: int) -> str:
    """`pattern` with its run of '#' replaced by `frame`, zero-padded to the run's width."""
    folder, name = os.path.split(pattern)
    run = re.search(r"#+", name)
    assert run is not None
    number = str(abs(frame)).zfill(len(run.group()))
    return os.path.join(folder, name[:run.start()] + ("-" if frame < 0 else "") + number
                        + name[run.end():])


def _inputs(shot: Shot) -> list[str]:
    if shot.character:
        return [shot.character]
    if shot.cache:
        return [shot.rest, shot.cache]
    first, last = shot.frames
    return [shot.rest] + [_numbered(shot.sequence, f) for f in range(first, last + 1)]


def stamp_of(shot: Shot) -> dict[str, Any]:
    """What a stamp records: every input's path, size and modification time, the shot's
    settings and the program's version. Raises OSError for an input that is missing."""
    inputs = []
    for path in _inputs(shot):
        status = os.stat(path)
        inputs.append([path, status.st_size, status.st_mtime_ns])
    described = dataclasses.asdict(shot)
    return {"program": tessamire.__version__, "shot": described, "inputs": inputs}


def is_done(shot: Shot, stamp: dict[str, Any]) -> bool:
    """Whether the shot's stamp records `stamp` and its outputs are there."""
    try:
        with open(shot.stamp_path()) as file:
            kept = json.load(file)
    except (OSError, ValueError):
        return False
    if kept.get("stamp") != json.loads(json.dumps(stamp)):
        return False
    return all(os.path.exists(os.path.join(shot.folder(), name))
               for name in kept.get("outputs", []))


def _write_stamp(shot: Shot, stamp: dict[str, Any], outputs: list[str]) -> None:
    text = json.dumps({"stamp": stamp, "outputs": sorted(outputs)}, indent=1)
    _tessamire._write_file(shot.stamp_path(), text.encode())


# --- Tasks, on the workers --------------------------------------------------------------------

_tasks_begun = 0


def _exits_now(run: str) -> bool:
    """The test switch: whether this process is the one that exits during this task."""
    global _tasks_begun
    _tasks_begun += 1
    wanted = os.environ.get(EXIT_SWITCH)
    if not wanted or _tasks_begun != int(wanted):
        return False
    # Only the first process of the run to get there: the others go on.
    import tempfile
    marker = os.path.join(tempfile.gettempdir(), f"tessamire-farm-exit-{run}")
    try:
        os.close(os.open(marker, os.O_CREAT | os.O_EXCL | os.O_WRONLY))
    except OSError:
        return False
    return True


def _parts_folder(shot: Shot, run: str) -> str:
    """Where a character shot's tasks write their parts: beside its outputs, which every worker
    sees, under a hidden name of the run."""
    return os.path.join(shot.out, f"{PARTS}-{run}")


def _threads(per_host: dict[str, int]) -> int:
    """This worker's share of its machine's cores: its cores divided by the workers there."""
    cores = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    try:
        from distributed import get_worker
        host = get_worker().address.rsplit(":", 1)[0].split("://")[-1]
    except (ImportError, ValueError):
        return max(1, cores or 1)
    return max(1, (cores or 1) // max(1, per_host.get(host, 1)))


def character_part(shot: Shot, frames: Optional[tuple[int, int]], folder: str, run: str,
                   per_host: dict[str, int]) -> list[str]:
    """Corrects `frames` of a character shot into `folder` (a part's own); answers the files."""
    exits = _exits_now(run)
    os.makedirs(folder, exist_ok=True)
    tessamire.correct(shot.character, out=folder, format=shot.format, clip=shot.clip,
                      fps=shot.fps, frames=frames, threads=_threads(per_host),
                      **shot.settings)
    if exits:
        os._exit(3)  # the test switch: the part written, nothing handed back
    return sorted(os.listdir(folder))


def rest_part(shot: Shot, state: dict[str, Any], first: int, last: int, run: str,
              per_host: dict[str, int]) -> Optional[np.ndarray]:
    """Corrects a rest shot's frames first..last (a cache's samples, or a sequence's frames,
    whose OBJ results are written here); answers a cache's corrected samples."""
    exits = _exits_now(run)
    # Made here, in the task, with this worker's share of its machine's cores.
    fix = tessamire.Correction.__new__(tessamire.Correction)
    fix.__setstate__(dict(state, threads=_threads(per_host)))
    if shot.cache:
        corrected = fix.apply(tessamire.read_cache(shot.cache).frames[first:last + 1])
    else:
        os.makedirs(os.path.dirname(shot.out) or ".", exist_ok=True)
        for frame in range(first, last + 1):
            given = tessamire.read_obj(_numbered(shot.sequence, frame))
            tessamire.write_obj(_numbered(shot.out, frame), fix.apply(given.points), like=given)
        corrected = None
    if exits:
        os._exit(3)
    return corrected


# --- The run, on the caller -------------------------------------------------------------------

@dataclasses.dataclass
class _Plan:
    shot: Shot
    stamp: dict[str, Any]
    ranges: list[tuple[int, int]]
    parts: dict[int, Any] = dataclasses.field(default_factory=dict)
    folders: dict[int, str] = dataclasses.field(default_factory=dict)
    failed: Optional[str] = None


def _ranges(first: int, last: int, chunk: int) -> list[tuple[int, int]]:
    return [(a, min(last, a + chunk - 1)) for a in range(first, last + 1, chunk)]


def _plan_character(shot: Shot, chunk: int) -> list[tuple[int, int]]:
    first, last = shot.frames or _tessamire._correct_range(shot.character, shot.clip, False,
                                                           shot.fps, None)
    # A glTF is one file of every frame, and settings chosen by tune look at the whole range:
    # such a shot is one task.
    if shot.format == "glb" or shot.settings.get("settings") == "auto":
        return [(first, last)]
    return _ranges(first, last, chunk)


def _plan(shot: Shot, chunk: int) -> list[tuple[int, int]]:
    if shot.character:
        return _plan_character(shot, chunk)
    if shot.cache:
        return _ranges(0, len(tessamire.read_cache(shot.cache).frames) - 1, chunk)
    return _ranges(shot.frames[0], shot.frames[1], chunk)


def _stitch_character(plan: _Plan) -> list[str]:
    shot = plan.shot
    os.makedirs(shot.out, exist_ok=True)
    folders = [plan.folders[i] for i in range(len(plan.ranges))]
    names = plan.parts[0]
    written = []
    for name in names:
        target = os.path.join(shot.out, name)
        if name.endswith(".pc2") or name.endswith(".mdd"):
            caches = [tessamire.read_cache(os.path.join(f, name)) for f in folders]
            frames = np.concatenate([c.frames for c in caches])
            if name.endswith(".pc2"):
                tessamire.write_cache(target, frames, start=caches[0].start,
                                      rate=caches[0].rate)
            else:
                tessamire.write_cache(target, frames,
                                      times=np.concatenate([c.times for c in caches]))
        else:
            os.replace(os.path.join(folders[0], name), target)
        written.append(name)
    # The frames' own files of the later parts (OBJ frames): whole files, renamed in.
    for index in range(1, len(folders)):
        for name in plan.parts[index]:
            if name not in names:
                os.replace(os.path.join(folders[index], name), os.path.join(shot.out, name))
                written.append(name)
    return written


def _stitch(plan: _Plan) -> list[str]:
    shot = plan.shot
    if shot.character:
        return _stitch_character(plan)
    if shot.sequence:
        return [os.path.basename(_numbered(shot.out, f))
                for f in range(shot.frames[0], shot.frames[1] + 1)]
    given = tessamire.read_cache(shot.cache)
    os.makedirs(shot.folder(), exist_ok=True)
    frames = np.concatenate([plan.parts[i] for i in range(len(plan.ranges))])
    if given.format == "pc2":
        tessamire.write_cache(shot.out, frames, start=given.start, rate=given.rate)
    else:
        tessamire.write_cache(shot.out, frames, times=given.times)
    return [os.path.basename(shot.out)]


def _clean(plan: _Plan, run: str) -> None:
    """Removes what the shot's tasks left: their part folders (a dead worker's too) and the
    safe writer's temporary files of the shot's outputs."""
    folder = plan.shot.folder()
    if plan.shot.character:
        shutil.rmtree(_parts_folder(plan.shot, run), ignore_errors=True)
    if plan.shot.sequence:
        pattern = re.sub(r"#+", lambda m: "[0-9]" * len(m.group()),
                         glob.escape(os.path.basename(plan.shot.out)))
        for leftover in glob.glob(os.path.join(glob.escape(folder), "." + pattern + ".*.tmp")):
            os.remove(leftover)


class Progress:
    """Shots and frames done, as a line redrawn on a terminal or a line per shot elsewhere."""

    def __init__(self, shots: int, frames: int, stream: Any = None) -> None:
        # None: standard error; False: nothing drawn.
        self.stream = sys.stderr if stream is None else stream
        self.shots, self.frames = shots, frames
        self.shots_done = self.frames_done = 0
        self.terminal = bool(self.stream) and self.stream.isatty()

    def text(self) -> str:
        width = 20
        filled = width * self.frames_done // self.frames if self.frames else width
        return (f"[{'#' * filled}{'.' * (width - filled)}] shots {self.shots_done}/"
                f"{self.shots}, frames {self.frames_done}/{self.frames}")

    def step(self, frames: int = 0, shots: int = 0, said: str = "") -> None:
        self.frames_done += frames
        self.shots_done += shots
        if not self.stream:
            return
        if self.terminal:
            self.stream.write("\r" + self.text() + ("\n" + said if said else "")
                              + ("\n" if said else ""))
        elif shots or said:
            self.stream.write(self.text() + (f": {said}" if said else "") + "\n")
        self.stream.flush()

    def end(self) -> None:
        if self.stream and self.terminal:
            self.stream.write("\n")
            self.stream.flush()


def _hosts(client: Any) -> dict[str, int]:
    """The workers on each machine."""
    counts: dict[str, int] = {}
    for address in client.scheduler_info().get("workers", {}):
        host = address.rsplit(":", 1)[0].split("://")[-1]
        counts[host] = counts.get(host, 0) + 1
    return counts


def _submit(client: Any, plans: list[_Plan], run: str) -> dict[Any, tuple[_Plan, int]]:
    per_host = _hosts(client)
    tasks: dict[Any, tuple[_Plan, int]] = {}
    for plan in plans:
        shot = plan.shot
        # A rest mesh is bound once, here, and travels pickled in each of its tasks: a result
        # held by a worker that dies would be lost to the tasks that need it.
        bound = None
        if shot.rest:
            rest = tessamire.read_obj(shot.rest)
            bound = tessamire.Correction(rest.points, rest.faces, **shot.settings).__getstate__()
        for index, (first, last) in enumerate(plan.ranges):
            if shot.character:
                folder = os.path.join(_parts_folder(shot, run),
                                      f"{first}-{last}-{uuid.uuid4().hex}")
                plan.folders[index] = folder
                whole = len(plan.ranges) == 1
                future = client.submit(character_part, shot, shot.frames if whole
                                       else (first, last), folder, run, per_host, pure=False)
            else:
                future = client.submit(rest_part, shot, bound, first, last, run, per_host,
                                       pure=False)
            tasks[future] = (plan, index)
    return tasks


def _finish(plan: _Plan, run: str) -> None:
    """Stitches a shot whose parts are all in, and writes its stamp last."""
    try:
        written = _stitch(plan)
        _write_stamp(plan.shot, plan.stamp, written)
    except Exception as error:  # the shot fails; the others go on
        plan.failed = f"{type(error).__name__}: {error}"
    finally:
        _clean(plan, run)


def _gather(tasks: dict[Any, tuple[_Plan, int]], run: str, progress: Progress) -> None:
    from distributed import as_completed
    for future in as_completed(list(tasks)):
        plan, index = tasks[future]
        first, last = plan.ranges[index]
        if plan.failed:
            continue
        try:
            plan.parts[index] = future.result()
        except Exception as error:
            plan.failed = f"frames {first}-{last}: {type(error).__name__}: {error}"
            for other, (same, _) in tasks.items():
                if same is plan:
                    other.cancel()
            _clean(plan, run)
            progress.step(said=f"shot {plan.shot.name} failed: {plan.failed}")
            continue
        done = len(plan.parts) == len(plan.ranges)
        if done:
            _finish(plan, run)
        progress.step(frames=last - first + 1, shots=int(done),
                      said=f"shot {plan.shot.name} failed: {plan.failed}" if plan.failed
                      else "")


def _local_client(workers: Optional[int]) -> tuple[Any, Callable[[], None]]:
    from distributed import Client, LocalCluster
    count = workers or max(1, min(4, os.cpu_count() or 1))
    # The scheduler's own reports of a lost worker (its tasks rerun) would read as failures:
    # the bar says what failed.
    cluster = LocalCluster(n_workers=count, threads_per_worker=1, processes=True,
                           dashboard_address=None, silence_logs=logging.CRITICAL)
    client = Client(cluster)

    def close() -> None:
        client.close()
        cluster.close()
    return client, close


def run(shots: Union[str, os.PathLike, Iterable[Union[Shot, dict[str, Any]]]],
        client: Any = None, *, scheduler: Optional[str] = None, workers: Optional[int] = None,
        chunk: Optional[int] = None, progress: Any = None) -> dict[str, Any]:
    """Corrects every shot not already done on Dask: `client`, else the scheduler at
    `scheduler`, else a local cluster of `workers` worker processes. `shots`: a TOML file, or
    shots (Shot or tables). `chunk`: frames per task. `progress`: a stream for the bar (None:
    standard error; False: none). Answers {'done': [...], 'skipped': [...], 'failed': {name:
    why}}. Raises ShotError for a shot at fault before anything runs."""
    if isinstance(shots, (str, os.PathLike)):
        listed, given_chunk = load_shots(shots)
        chunk = chunk or given_chunk
    else:
        listed = check_apart([s if isinstance(s, Shot) else make_shot(s, ".", f"shots[{i}]")
                              for i, s in enumerate(shots)])
    chunk = chunk or DEFAULT_CHUNK
    result: dict[str, Any] = {"done": [], "skipped": [], "failed": {}}
    plans = []
    for shot in listed:
        try:
            stamp = stamp_of(shot)
        except OSError as error:
            result["failed"][shot.name] = f"{type(error).__name__}: {error}"
            continue
        if is_done(shot, stamp):
            result["skipped"].append(shot.name)
            continue
        # A shot begun again is not done until its new stamp says so.
        if os.path.exists(shot.stamp_path()):
            os.remove(shot.stamp_path())
        try:
            plans.append(_Plan(shot, stamp, _plan(shot, chunk)))
        except (OSError, ValueError) as error:
            result["failed"][shot.name] = f"{type(error).__name__}: {error}"
    bar = Progress(len(listed), sum(a[1] - a[0] + 1 for p in plans for a in p.ranges),
                   progress)
    bar.step(shots=len(result["skipped"]))
    if plans:
        run_id = uuid.uuid4().hex
        close = None
        if client is None:
            if scheduler:
                from distributed import Client
                client = Client(scheduler)
                close = client.close
            else:
                client, close = _local_client(workers)
        try:
            _gather(_submit(client, plans, run_id), run_id, bar)
        finally:
            for plan in plans:
                _clean(plan, run_id)
            import tempfile
            marker = os.path.join(tempfile.gettempdir(), f"tessamire-farm-exit-{run_id}")
            if os.path.exists(marker):
                os.remove(marker)
            if close:
                close()
    bar.end()
    for plan in plans:
        if plan.failed:
            result["failed"][plan.shot.name] = plan.failed
        else:
            result["done"].append(plan.shot.name)
    return result


def main(argv: Optional[list[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python3 -m tessamire.farm",
        description="Correct a list of shots on Dask: a local cluster of worker processes, or "
                    "the scheduler given. Every worker must see the inputs and outputs at the "
                    "same paths.")
    parser.add_argument("shots", help="the shots, a TOML file")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="a running Dask scheduler (tcp://HOST:PORT); default: a local "
                             "cluster")
    parser.add_argument("--workers", type=int, metavar="N",
                        help="worker processes of the local cluster (default: the cores, at "
                             "most 4)")
    parser.add_argument("--chunk", type=int, metavar="N",
                        help=f"frames per task (default: the file's chunk, else {DEFAULT_CHUNK})")
    parser.add_argument("--quiet", action="store_true", help="no progress bar")
    options = parser.parse_args(argv)
    if options.workers is not None and options.workers < 1:
        parser.error("--workers wants a whole number from 1")
    if options.chunk is not None and options.chunk < 1:
        parser.error("--chunk wants a whole number from 1")
    try:
        result = run(options.shots, scheduler=options.scheduler, workers=options.workers,
                     chunk=options.chunk, progress=False if options.quiet else None)
    except (ShotError, OSError) as error:
        print(f"tessamire.farm: {error}", file=sys.stderr)
        return 2
    for name, why in result["failed"].items():
        print(f"tessamire.farm: shot {name} failed: {why}", file=sys.stderr)
    print(f"{len(result['done'])} shots corrected, {len(result['skipped'])} already done, "
          f"{len(result['failed'])} failed")
    return 1 if result["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
