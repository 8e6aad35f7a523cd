"""Characters round trip: the file's own vertices, and `correct` against the command line's."""

import os
import re

import numpy as np
import pytest

import tessamire
from conftest import MODELS, grid

ANIM_TEST = os.path.join(MODELS, "X", "anim_test.x")
SIMPLE_SKIN = os.path.join(MODELS, "glTF2", "simple_skin", "simple_skin.gltf")
CHARACTERS = [ANIM_TEST, SIMPLE_SKIN]


def needed(path):
    if not os.path.exists(path):
        pytest.skip(f"{path} is missing (package assimp-testmodels)")
    return path


def obj_lines(path):
    """An OBJ's positions, texture coordinates, normals and faces as the file writes them."""
    v, vt, vn, faces = [], [], [], []
    for line in open(path):
        word, *rest = line.split()
        if word == "v":
            v.append([float(x) for x in rest])
        elif word == "vt":
            vt.append([float(x) for x in rest])
        elif word == "vn":
            vn.append([float(x) for x in rest])
        elif word == "f":
            faces.append([int(corner.split("/")[0]) - 1 for corner in rest])
    return np.array(v), np.array(vt), np.array(vn), faces


@pytest.mark.parametrize("path", CHARACTERS)
def test_file_vertices_uvs_and_normals_are_the_command_lines_obj(path, program, tmp_path):
    character = tessamire.import_character(needed(path))
    done = program("correct", path, "--format", "obj", "--out", str(tmp_path), "--frames", "0:1",
                   "--quiet")
    assert done.returncode == 0, done.stderr
    for mesh in character.meshes:
        stem = re.sub(r"[^A-Za-z0-9_-]", "_", mesh.name)  # the files' stem of the name
        v, vt, vn, faces = obj_lines(tmp_path / f"{stem}.rest.obj")
        assert mesh.file_points.shape == v.shape and np.array_equal(mesh.file_points, v)
        assert np.array_equal(mesh.file_points, mesh.points[mesh.file_to_point])
        assert mesh.file_to_point.min() >= 0 and mesh.file_to_point.max() < len(mesh.points)
        if mesh.uvs is None:
            assert len(vt) == 0
        else:
            assert mesh.uvs.shape == (len(v), 2)
            assert np.array_equal(mesh.uvs, vt.astype(np.float32))
        if mesh.normals is None:
            assert len(vn) == 0
        else:
            assert np.array_equal(mesh.normals, vn)
        counts, corners = mesh.file_faces
        assert counts.tolist() == [len(f) for f in faces]
        assert corners.tolist() == [i for f in faces for i in f]


def test_a_character_split_along_seams_has_more_vertices_than_points():
    mesh = tessamire.import_character(needed(ANIM_TEST)).meshes[0]
    assert len(mesh.file_points) > len(mesh.points)
    assert len(np.unique(mesh.file_to_point)) == len(mesh.points)


@pytest.mark.parametrize("form, settings", [
    ("obj", {}),
    ("pc2", {"iterations": 6, "strength": 0.5}),
    ("mdd", {"weighting": 1}),
    ("glb", {}),
])
def test_correct_writes_what_the_command_line_writes_byte_for_byte(form, settings, program,
                                                                   tmp_path):
    path = needed(ANIM_TEST)
    flags = [f"--{key.replace('_', '-')}={value}" for key, value in settings.items()]
    done = program("correct", path, "--format", form, "--out", str(tmp_path / "cli"),
                   "--frames", "2:6", "--quiet", *flags)
    assert done.returncode == 0, done.stderr
    result = tessamire.correct(path, out=tmp_path / "py", format=form, frames=(2, 6), **settings)
    assert result["points_kept"] == 0 and result["written"]
    names = sorted(os.listdir(tmp_path / "cli"))
    assert sorted(os.listdir(tmp_path / "py")) == names
    for name in names:
        assert (tmp_path / "py" / name).read_bytes() == (tmp_path / "cli" / name).read_bytes(), \
            name


def test_correct_without_out_gives_the_frames_on_the_file_vertices(program, tmp_path):
    path = needed(ANIM_TEST)
    frames = tessamire.correct(path, frames=(3, 5), iterations=4)
    done = program("correct", path, "--format", "obj", "--out", str(tmp_path), "--frames", "3:5",
                   "--iterations", "4", "--quiet")
    assert done.returncode == 0, done.stderr
    assert list(frames) == ["pCylinder1"]
    corrected = frames["pCylinder1"]
    assert corrected.shape == (3, 485, 3) and corrected.dtype == np.float64
    for f in range(3):
        v, _, _, _ = obj_lines(tmp_path / f"pCylinder1.{3 + f:04d}.obj")
        assert np.array_equal(corrected[f], v), f"frame {3 + f}"
    welded = tessamire.correct(path, frames=(3, 5), iterations=4, welded=True)["pCylinder1"]
    mesh = tessamire.import_character(path).meshes[0]
    assert welded.shape == (3, len(mesh.points), 3)
    assert np.array_equal(welded[:, mesh.file_to_point], corrected)
    # The correction changed the skinning.
    assert not np.array_equal(welded, mesh.frames[3:6])


@pytest.mark.parametrize("arguments, error, message", [
    ({"format": "fbx"}, ValueError, "format wants obj, pc2, mdd or glb"),
    ({"frames": (5, 2)}, ValueError, "is after the last"),
    ({"frames": "2:5"}, TypeError, "frames wants"),
    ({"settings": "best"}, ValueError, "settings wants 'auto'"),
    ({"iterations": -3}, ValueError, "iterations wants"),
    ({"with_skinned": True}, ValueError, "give out="),
    ({"pose_check": 0}, ValueError, "pose_check wants"),
    ({"clip": "no such clip"}, OSError, "no such clip"),
])
def test_correct_refuses_bad_arguments_by_name(arguments, error, message):
    with pytest.raises(error, match=message):
        tessamire.correct(needed(ANIM_TEST), **arguments)


def test_correct_stopped_by_its_progress_leaves_no_partial_file(tmp_path):
    path = needed(ANIM_TEST)
    seen = []

    def stop(done, total):
        seen.append((done, total))
        if done == 3:
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        tessamire.correct(path, out=tmp_path, format="pc2", frames=(0, 9), progress=stop)
    assert seen == [(1, 10), (2, 10), (3, 10)]
    assert not [n for n in os.listdir(tmp_path) if n.endswith(".pc2") or n.endswith(".tmp")]
    with pytest.raises(FileNotFoundError):
        tessamire.correct(tmp_path / "missing.fbx")


def test_a_scene_made_in_python_is_the_command_lines_scene(program, tmp_path):
    path = needed(ANIM_TEST)
    steps = [("scene", "import", path, "--out", "a.tsm"),
             ("command", "Add Tessamire", "a.tsm", "--select", "pCylinder1", "--shift",
              "--out", "b.tsm"),
             ("scene", "set", "b.tsm", "--out", "c.tsm", "--node", "pCylinder1/Tessamire Bind",
              "iterations=6", "strength=0.25", "--press", "Bind")]
    for step in steps:
        done = program(*[str(tmp_path / a) if a.endswith(".tsm") else a for a in step])
        assert done.returncode == 0, done.stderr
    scene = tessamire.Scene.import_character(path)
    added = scene.command("add tessamire", ["pCylinder1"], keys=["shift"])
    assert added["objects_added"] == 1 and added["tags_added"] == 1
    changed = scene.set("iterations", 6, node="pCylinder1/Tessamire Bind")
    assert changed["value"] == "6" and changed["was"] != "6"
    scene.set("strength", 0.25, node="pCylinder1/Tessamire Bind")
    scene.press("Bind", node="pCylinder1/Tessamire Bind")
    scene.save(tmp_path / "py.tsm")
    assert (tmp_path / "py.tsm").read_bytes() == (tmp_path / "c.tsm").read_bytes()
    theirs = tessamire.Scene.load(tmp_path / "c.tsm")
    assert np.array_equal(scene.evaluate(4)["pCylinder1"], theirs.evaluate(4)["pCylinder1"])


@pytest.mark.parametrize("call, error, message", [
    (lambda s: s.command("no such command"), ValueError, "no registered command is"),
    (lambda s: s.command("Add Tessamire", ["nobody"]), ValueError, "nobody"),
    (lambda s: s.command("Add Tessamire", ["pCylinder1"], keys=["alt"]), ValueError,
     "'shift' or 'ctrl'"),
    (lambda s: s.set("no such parameter", 1, node="pCylinder1/Tessamire Bind"), ValueError,
     "no such parameter"),
    (lambda s: s.set("iterations", [6], node="pCylinder1/Tessamire Bind"), TypeError,
     "value wants"),
    (lambda s: s.set("iterations", 99999, node="pCylinder1/Tessamire Bind"), ValueError,
     "runs from 0 to 1000, not 99999"),
    (lambda s: s.press("Bind", node="nowhere"), ValueError, "nowhere"),
])
def test_scene_changes_at_fault_are_refused_by_name_and_change_nothing(call, error, message,
                                                                        tmp_path):
    scene = tessamire.Scene.import_character(needed(ANIM_TEST))
    scene.command("Add Tessamire", ["pCylinder1"])
    scene.save(tmp_path / "before.tsm")
    with pytest.raises(error, match=message):
        call(scene)
    scene.save(tmp_path / "after.tsm")
    assert (tmp_path / "after.tsm").read_bytes() == (tmp_path / "before.tsm").read_bytes()


@pytest.fixture
def frames_on_disk(tmp_path):
    """A rest grid, its frames as a PC2 and an MDD cache and as a numbered OBJ sequence."""
    points, quads = grid(8)
    tessamire.write_obj(tmp_path / "rest.obj", points, faces=quads)
    rest = tessamire.read_obj(tmp_path / "rest.obj")
    moved = np.stack([points * [1.0, 1.0, 1.0 + 0.1 * i] + [0.0, 0.05 * i, 0.0]
                      for i in range(6)])
    tessamire.write_cache(tmp_path / "in.pc2", moved, start=3.0, rate=1.0)
    tessamire.write_cache(tmp_path / "in.mdd", moved)
    for f in range(6):
        tessamire.write_obj(tmp_path / f"s.{f + 1:04d}.obj", moved[f], like=rest)
    return tmp_path


@pytest.mark.parametrize("inputs, out, frames", [
    ("in.pc2", "c.pc2", None),
    ("in.mdd", "c.mdd", None),
    ("in.pc2", "c.glb", None),
    ("in.pc2", "c.####.obj", None),
    ("s.####.obj", "o.####.obj", (2, 5)),
    ("s.####.obj", "o.pc2", (1, 6)),
])
def test_apply_writes_what_the_command_line_writes(inputs, out, frames, frames_on_disk,
                                                   program):
    folder = frames_on_disk
    range_flags = ["--frames", f"{frames[0]}:{frames[1]}"] if frames else []
    (folder / "cli").mkdir()
    done = program("apply", "--rest", str(folder / "rest.obj"), str(folder / inputs), "--out",
                   str(folder / "cli" / out), "--iterations", "5", "--strength", "0.5",
                   "--quiet", *range_flags)
    assert done.returncode == 0, done.stderr
    steps = []
    result = tessamire.apply(folder / "rest.obj", folder / inputs, folder / "py" / out,
                             frames=frames, iterations=5, strength=0.5, threads=1,
                             progress=lambda done, total: steps.append((done, total)))
    assert result == {"points_kept": 0}
    assert steps and steps[-1][0] == steps[-1][1]
    names = sorted(os.listdir(folder / "cli"))
    assert sorted(os.listdir(folder / "py")) == names
    for name in names:
        assert (folder / "py" / name).read_bytes() == (folder / "cli" / name).read_bytes(), name


def test_apply_refuses_what_the_command_line_refuses(frames_on_disk):
    folder = frames_on_disk
    with pytest.raises(OSError, match="would overwrite"):
        tessamire.apply(folder / "rest.obj", folder / "in.pc2", folder / "in.pc2")
    with pytest.raises(ValueError, match="not a cache"):
        tessamire.apply(folder / "rest.obj", folder / "in.pc2", folder / "o.pc2", frames=(1, 2))
    with pytest.raises(ValueError, match="give a cache"):
        tessamire.apply(folder / "rest.obj", [], folder / "o.pc2")
    with pytest.raises(ValueError, match="iterations wants"):
        tessamire.apply(folder / "rest.obj", folder / "in.pc2", folder / "o.pc2", iterations=-1)

    def stop(done, total):
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        tessamire.apply(folder / "rest.obj", folder / "in.pc2", folder / "o.pc2", progress=stop)
    assert not [n for n in os.listdir(folder) if n.startswith("o.") or n.endswith(".tmp")]
