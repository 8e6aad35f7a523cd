"""The correction on numpy arrays: the program's results, frames, inputs and refusals."""

import os
import pickle
import re
import subprocess
import sys
import threading

import numpy as np
import pytest

import tessamire
from conftest import MODELS, bend, grid


def test_apply_equals_the_program_bit_for_bit(wuson, program, tmp_path):
    frame = bend(wuson.points, 0.6)
    tessamire.write_obj(str(tmp_path / "frame.obj"), frame, like=wuson)
    settings = {"iterations": 12, "weighting": 1, "strength": 0.4}
    for smoothed in (False, True):
        out = tmp_path / f"out{int(smoothed)}.obj"
        args = ["apply", "--rest", wuson.name, str(tmp_path / "frame.obj"), "--out", str(out),
                "--iterations", "12", "--weighting", "1", "--strength", "0.4", "--quiet"]
        done = program(*args, *(["--show-smoothed"] if smoothed else []))
        assert done.returncode == 0, done.stderr
        fix = tessamire.Correction(wuson.points, wuson.faces, **settings)
        # The frame as the program read it back from the file.
        given = tessamire.read_obj(str(tmp_path / "frame.obj")).points
        ours = fix.smoothed(given) if smoothed else fix.apply(given)
        theirs = tessamire.read_obj(str(out)).points
        assert ours.shape == theirs.shape
        assert np.array_equal(ours, theirs), "smoothed" if smoothed else "corrected"
        assert not np.array_equal(ours, given)


def test_frames_in_one_call_equal_frames_one_by_one(wuson):
    fix = tessamire.Correction(wuson.points, wuson.faces, iterations=6)
    frames = np.stack([bend(wuson.points, a) for a in (0.0, 0.5, 1.0, 0.25)])
    together = fix.apply(frames)
    assert together.shape == frames.shape and together.dtype == np.float64
    for f in range(len(frames)):
        assert np.array_equal(together[f], fix.apply(frames[f])), f"frame {f}"


def test_faces_as_lists_or_arrays_and_ngons_fanned_as_the_obj_reader_does():
    points, quads = grid()
    frame = points * [1.0, 1.0, 1.5] + [0.0, 0.0, 0.3]
    by_array = tessamire.Correction(points, quads, iterations=4).apply(frame)
    by_lists = tessamire.Correction(points, quads.tolist(), iterations=4).apply(frame)
    assert np.array_equal(by_array, by_lists)
    # A hexagon of two quads' outline is fanned from its first corner into triangles.
    a, b = quads[0], quads[1]
    hexagon = [a[0], a[1], b[1], b[2], b[3], a[3]]
    fanned = [(hexagon[0], hexagon[k], hexagon[k + 1]) for k in range(1, 5)]
    rest = quads[2:].tolist()
    fix_ngon = tessamire.Correction(points, [hexagon] + rest, iterations=4)
    fix_fan = tessamire.Correction(points, fanned + rest, iterations=4)
    assert np.array_equal(fix_ngon.faces, fix_fan.faces)
    assert np.array_equal(fix_ngon.apply(frame), fix_fan.apply(frame))


def test_any_real_array_is_taken_converted_once_and_left_untouched():
    points, quads = grid()
    fix = tessamire.Correction(points.astype(np.float32), quads.astype(np.int32), iterations=3)
    frame32 = (points * 1.25).astype(np.float32)
    expected = fix.apply(frame32.astype(np.float64))
    assert np.array_equal(fix.apply(frame32), expected)
    fortran = np.asfortranarray(frame32.astype(np.float64))
    before = fortran.copy()
    assert np.array_equal(fix.apply(fortran), expected)
    assert np.array_equal(fortran, before)
    assert np.array_equal(fix.apply(frame32.tolist()), expected)
    # Whole numbers are real numbers too.
    assert fix.apply(np.rint(frame32).astype(np.int64)).dtype == np.float64


def test_settings_are_refused_in_the_words_of_the_command_line(program, tmp_path):
    points, quads = grid(4)
    tessamire.write_obj(str(tmp_path / "rest.obj"), points, faces=quads)
    for name, option, value in (("iterations", "--iterations", 5000),
                                ("weighting", "--weighting", 7),
                                ("pin_border", "--pin-border", 2),
                                ("strength", "--strength", -1.0)):
        with pytest.raises(ValueError) as raised:
            tessamire.Correction(points, quads, **{name: value})
        done = program("apply", "--rest", str(tmp_path / "rest.obj"), str(tmp_path / "rest.obj"),
                       "--out", str(tmp_path / "out.obj"), option, str(value))
        assert done.returncode != 0
        accepted = re.search(r"wants (.*), not", done.stderr).group(1)
        assert str(raised.value).startswith(f"{name} wants {accepted}, not "), done.stderr
    with pytest.raises(TypeError):
        tessamire.Correction(points, quads, iterations=2.5)
    with pytest.raises(ValueError, match="threads"):
        tessamire.Correction(points, quads, threads=-1)


def test_bad_arrays_raise_value_error_naming_the_fault():
    points, quads = grid(4)
    fix = tessamire.Correction(points, quads, iterations=2)
    with pytest.raises(ValueError, match=r"shape \(N, 3\) or \(F, N, 3\), not \(16, 2\)"):
        fix.apply(points[:, :2])
    with pytest.raises(ValueError, match="15 points, but the rest mesh has 16"):
        fix.apply(points[:15])
    with pytest.raises(ValueError, match="frame 0: 15 points"):
        tessamire.Correction(points, quads).apply(np.zeros((2, 15, 3)))
    bad = points.copy()
    bad[5, 2] = np.inf
    with pytest.raises(ValueError, match="point 5 has the coordinate inf"):
        fix.apply(bad)
    bad[5, 2] = np.nan
    with pytest.raises(ValueError, match="point 5 has the coordinate"):
        tessamire.Correction(bad, quads)
    with pytest.raises(ValueError, match="vertex map: 3 weights, but the rest mesh has 16"):
        tessamire.Correction(points, quads, vertex_map=np.ones(3))
    with pytest.raises(ValueError, match=r"vertex map: weight 2 \(1.5\) is outside"):
        tessamire.Correction(points, quads, vertex_map=[1, 1, 1.5] + [1] * 13)
    with pytest.raises(ValueError, match="restriction: 17 weights"):
        tessamire.Correction(points, quads, restriction=np.ones(17))
    with pytest.raises(ValueError, match="corner index 16 is out of range"):
        tessamire.Correction(points, [[0, 1, 16]])
    with pytest.raises(ValueError, match="needs at least 3 corners"):
        tessamire.Correction(points, [[0, 1]])
    with pytest.raises(ValueError, match=r"\(M, 3\) or \(M, 4\)"):
        tessamire.Correction(points, np.zeros((2, 5), dtype=int))
    with pytest.raises(TypeError):
        tessamire.Correction(points, quads.astype(float))
    with pytest.raises(TypeError, match="complex"):
        fix.apply(points.astype(complex))
    with pytest.raises(TypeError, match="float128|longdouble"):
        fix.apply(points.astype(np.longdouble))


def test_vertex_map_and_restriction_change_the_result_where_they_say():
    points, quads = grid()
    frame = points + [0.0, 0.0, 0.5] * (points[:, :1] / 11.0)
    plain = tessamire.Correction(points, quads, iterations=4).apply(frame)
    keep = np.ones(len(points))
    keep[:40] = 0.0
    restricted = tessamire.Correction(points, quads, iterations=4, restriction=keep).apply(frame)
    assert np.array_equal(restricted[:40], frame[:40])
    assert np.allclose(restricted[40:], plain[40:], atol=1e-12)
    assert not np.allclose(restricted[:40], plain[:40])


def test_a_closed_plugin_refuses_and_a_new_load_serves_again():
    points, quads = grid(4)
    fix = tessamire.Correction(points, quads, iterations=2)
    fix.apply(points)
    folder = tessamire.plugin_folder()
    tessamire.close_plugins()
    assert tessamire.plugin_folder() is None
    try:
        with pytest.raises(RuntimeError, match="closed"):
            fix.apply(points)
    finally:
        assert tessamire.load_plugins(folder) == folder
    assert tessamire.Correction(points, quads, iterations=2).apply(points).shape == (16, 3)
    with pytest.raises(RuntimeError, match="no plug-in folder found"):
        tessamire.load_plugins("/nonexistent/plugins")
    tessamire.load_plugins(folder)


def test_two_corrections_on_two_threads_are_inside_the_plugin_at_once(wuson):
    frames = [bend(wuson.points, 0.7), bend(wuson.points, -0.4)]
    fixes = [tessamire.Correction(wuson.points, wuson.faces, iterations=4, threads=t)
             for t in (1, 2)]
    expected = [fix.apply(frame) for fix, frame in zip(fixes, frames)]
    results = [None, None]
    errors = []

    def run(i):
        try:
            results[i] = fixes[i].apply(frames[i])
        except Exception as e:  # reported below, not lost with the thread
            errors.append(e)

    # Each thread's first loop inside the evaluation waits until the other thread's has
    # started: met only when both evaluations are under way at once, without the GIL.
    tessamire._testing.meet_at_loops(2, 60.0)
    threads = [threading.Thread(target=run, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    met = tessamire._testing.loops_met()
    tessamire._testing.meet_at_loops(0, 0.0)
    assert not errors
    assert met
    for i in range(2):
        assert np.array_equal(results[i], expected[i])


def test_one_correction_from_two_threads_is_serialised():
    points, quads = grid()
    fix = tessamire.Correction(points, quads, iterations=8)
    frames = [points * [1.0, 1.0, s] for s in (0.5, 2.0)]
    expected = [fix.apply(f) for f in frames]
    mismatches = []

    def run(i):
        for _ in range(30):
            if not np.array_equal(fix.apply(frames[i]), expected[i]):
                mismatches.append(i)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert mismatches == []


def test_auto_settings_are_what_tune_recommends_for_a_characters_mesh(program, tmp_path):
    path = os.path.join(MODELS, "FBX", "huesitos.fbx")
    if not os.path.exists(path):
        pytest.skip(f"{path} is missing (package assimp-testmodels)")
    mesh = tessamire.import_character(path).meshes[0]
    done = program("tune", path, "--quiet", "--out", str(tmp_path / "tune"))
    assert done.returncode == 0, done.stderr
    line = re.search(r"recommended for " + re.escape(mesh.name) +
                     r": (\d+) rounds, weighting (\d+), pin (\d+)", done.stdout)
    assert line, done.stdout
    fix = tessamire.Correction(mesh.points, mesh.faces, settings="auto", frames=mesh.frames)
    chosen = fix.settings
    assert (chosen["iterations"], chosen["weighting"], chosen["pin_border"]) == \
        tuple(int(g) for g in line.groups())
    assert chosen["strength"] is None
    given = tessamire.Correction(mesh.points, mesh.faces, settings="auto", frames=mesh.frames,
                                 iterations=3, strength=0.5)
    assert given.settings["iterations"] == 3 and given.settings["strength"] == 0.5
    assert given.settings["weighting"] == chosen["weighting"]
    assert not np.array_equal(fix.apply(mesh.frames[-1]), mesh.frames[-1])


@pytest.mark.parametrize("settings, frames, says", [
    ("most", "frames", "settings wants 'auto'"),
    ("auto", None, "wants the skinned frames"),
    ("auto", "short", "points per frame"),
    ("auto", "none", "at least one frame"),
])
def test_auto_settings_refuse_what_they_cannot_tune_on(settings, frames, says):
    points, quads = grid()
    given = {"frames": np.stack([points, points * 1.1]), "short": np.zeros((2, 5, 3)),
             "none": np.zeros((0, len(points), 3)), None: None}[frames]
    with pytest.raises(ValueError, match=says):
        tessamire.Correction(points, quads, settings=settings, frames=given)
    assert tessamire.Correction(points, quads).settings["iterations"] is None


@pytest.mark.parametrize("maps", ["none", "vertex_map", "restriction", "both"])
def test_a_pickled_correction_corrects_to_the_same_bits(maps):
    points, quads = grid()
    weights = np.linspace(0.2, 1.0, len(points))
    given = {"vertex_map": weights if maps in ("vertex_map", "both") else None,
             "restriction": weights[::-1].copy() if maps in ("restriction", "both") else None}
    fix = tessamire.Correction(points, quads, iterations=5, strength=0.7, threads=2, **given)
    frames = np.stack([points * [1.0, 1.0, s] + [0.0, 0.1 * s, 0.0] for s in (1.4, 0.6)])
    first = fix.apply(frames[0])  # the original has corrected before it is pickled
    copy = pickle.loads(pickle.dumps(fix))
    assert isinstance(copy, tessamire.Correction)
    assert copy.settings == fix.settings and copy.point_count == fix.point_count
    assert np.array_equal(copy.faces, fix.faces)
    assert np.array_equal(copy.rest_points, points)
    assert np.array_equal(copy.apply(frames), fix.apply(frames))
    assert np.array_equal(copy.apply(frames[0]), first)
    assert np.array_equal(copy.smoothed(frames), fix.smoothed(frames))
    # A copy of a copy, and the restriction really held: it changes the result.
    again = pickle.loads(pickle.dumps(copy))
    assert np.array_equal(again.apply(frames), fix.apply(frames))
    if given["restriction"] is not None:
        plain = tessamire.Correction(points, quads, iterations=5, strength=0.7,
                                     vertex_map=given["vertex_map"])
        assert not np.array_equal(plain.apply(frames), fix.apply(frames))


def test_a_pickled_correction_binds_nothing_again_in_another_process(tmp_path):
    points, quads = grid()
    fix = tessamire.Correction(points, quads, iterations=7, weighting=1)
    frame = points * [1.0, 1.0, 1.6]
    (tmp_path / "fix.pickle").write_bytes(pickle.dumps(fix))
    np.save(tmp_path / "frame.npy", frame)
    script = ("import pickle, sys, numpy as np, tessamire\n"
              "fix = pickle.load(open(sys.argv[1] + '/fix.pickle', 'rb'))\n"
              "np.save(sys.argv[1] + '/out.npy', fix.apply(np.load(sys.argv[1] + '/frame.npy')))\n")
    done = subprocess.run([sys.executable, "-c", script, str(tmp_path)], capture_output=True,
                          text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert np.array_equal(np.load(tmp_path / "out.npy"), fix.apply(frame))


@pytest.mark.parametrize("change, message", [
    (lambda s: s.update(version=99), "another version"),
    (lambda s: s.pop("record"), "lacks its record"),
    (lambda s: s.update(record=s["record"][:-9] + b"123456789"), "a pickled Correction: "),
    (lambda s: s.update(record=b"not a scene"), "a pickled Correction: "),
    (lambda s: s.update(rest=s["rest"][:-1]), "points, but its rest mesh"),
    (lambda s: s.update(faces=s["faces"][::-1].copy()), "faces are not those"),
    (lambda s: s["settings"].update(iterations=5000), "iterations wants"),
])
def test_a_damaged_pickle_is_refused_by_name(change, message):
    points, quads = grid()
    state = tessamire.Correction(points, quads, iterations=3).__getstate__()
    state["settings"] = dict(state["settings"])
    change(state)
    copy = tessamire.Correction.__new__(tessamire.Correction)
    with pytest.raises(ValueError, match=re.escape(message)):
        copy.__setstate__(state)
