"""Files through the module: OBJ, point caches, characters and scenes, and their faults."""

import logging
import os

import numpy as np
import pytest

import tessamire
from conftest import MODELS, WUSON, bend, grid


def test_obj_written_like_its_source_keeps_everything_but_the_points(wuson, tmp_path):
    moved = bend(wuson.points, 0.3)
    tessamire.write_obj(str(tmp_path / "moved.obj"), moved, like=wuson)
    back = tessamire.read_obj(str(tmp_path / "moved.obj"))
    assert np.array_equal(back.points, moved)
    assert np.array_equal(back.faces, wuson.faces)
    for mine, theirs in zip(back.file_faces, wuson.file_faces):
        assert np.array_equal(mine, theirs)
    # Unchanged points give the source's lines back wherever they were not positions.
    tessamire.write_obj(str(tmp_path / "same.obj"), wuson.points, like=wuson)
    source = open(WUSON, "rb").read().splitlines()
    same = open(tmp_path / "same.obj", "rb").read().splitlines()
    assert len(same) == len(source)
    assert [a for a in same if not a.startswith(b"v ")] == \
        [b for b in source if not b.startswith(b"v ")]


def test_plain_obj_of_faces_reads_back(tmp_path):
    points, quads = grid(5)
    faces = [tuple(q) for q in quads.tolist()] + [(0, 6, 1)]
    tessamire.write_obj(str(tmp_path / "plain.obj"), points, faces=faces)
    back = tessamire.read_obj(str(tmp_path / "plain.obj"))
    assert np.array_equal(back.points, points)
    assert back.faces.tolist() == [list(q) for q in quads.tolist()] + [[0, 6, 1, 1]]
    counts, corners = back.file_faces
    assert counts.tolist() == [4] * len(quads) + [3]
    assert corners.tolist() == [i for face in faces for i in face]
    with pytest.raises(ValueError, match="either like= .* or faces="):
        tessamire.write_obj(str(tmp_path / "x.obj"), points)
    with pytest.raises(ValueError, match="15 points, but the mesh"):
        tessamire.write_obj(str(tmp_path / "x.obj"), points[:15],
                            like=tessamire.read_obj(str(tmp_path / "plain.obj")))


def test_caches_round_trip(tmp_path):
    rng = np.random.default_rng(7)
    frames = rng.standard_normal((4, 30, 3)).astype(np.float32).astype(np.float64)
    tessamire.write_cache(str(tmp_path / "a.pc2"), frames, start=12.0, rate=0.5)
    pc2 = tessamire.read_cache(str(tmp_path / "a.pc2"))
    assert (pc2.format, pc2.start, pc2.rate, pc2.times) == ("pc2", 12.0, 0.5, None)
    assert np.array_equal(pc2.frames, frames)
    times = np.array([0.0, 0.5, 1.25, 2.0], dtype=np.float32)
    tessamire.write_cache(str(tmp_path / "a.mdd"), frames, times=times)
    mdd = tessamire.read_cache(str(tmp_path / "a.mdd"))
    assert (mdd.format, mdd.start, mdd.rate) == ("mdd", None, None)
    assert np.array_equal(mdd.times, times)
    assert np.array_equal(mdd.frames, frames)
    tessamire.write_cache(str(tmp_path / "b.mdd"), frames)
    assert np.array_equal(tessamire.read_cache(str(tmp_path / "b.mdd")).times,
                          np.arange(4, dtype=np.float32) / np.float32(30))


def test_cache_faults_leave_no_file(tmp_path):
    frames = np.zeros((2, 3, 3))
    with pytest.raises(ValueError, match="pc2 or .mdd"):
        tessamire.write_cache(str(tmp_path / "a.txt"), frames)
    with pytest.raises(ValueError, match="times"):
        tessamire.write_cache(str(tmp_path / "a.pc2"), frames, times=[0.0, 1.0])
    with pytest.raises(ValueError, match="2 times for 3 frames|3 frames"):
        tessamire.write_cache(str(tmp_path / "a.mdd"), np.zeros((3, 3, 3)), times=[0.0, 1.0])
    big = frames.copy()
    big[1, 2, 0] = 1e300
    with pytest.raises(ValueError, match="float32"):
        tessamire.write_cache(str(tmp_path / "a.pc2"), big)
    with pytest.raises(ValueError, match=r"\(F, N, 3\)"):
        tessamire.write_cache(str(tmp_path / "a.pc2"), frames[0])
    assert os.listdir(tmp_path) == []


def test_file_faults_raise_os_error(tmp_path):
    with pytest.raises(FileNotFoundError):
        tessamire.read_obj(str(tmp_path / "missing.obj"))
    with pytest.raises(FileNotFoundError):
        tessamire.read_cache(str(tmp_path / "missing.pc2"))
    (tmp_path / "bad.obj").write_text("v 0 0 0\nf 1 2 3\n")
    with pytest.raises(OSError, match="bad.obj"):
        tessamire.read_obj(str(tmp_path / "bad.obj"))
    (tmp_path / "bad.pc2").write_bytes(b"POINTCACHE2\0" + b"\1" * 7)
    with pytest.raises(OSError, match="bad.pc2"):
        tessamire.read_cache(str(tmp_path / "bad.pc2"))
    (tmp_path / "bad.scene").write_bytes(b"not a scene")
    with pytest.raises(OSError):
        tessamire.Scene.load(str(tmp_path / "bad.scene"))
    points, quads = grid(3)
    with pytest.raises(OSError):
        tessamire.write_obj(str(tmp_path / "no" / "such" / "x.obj"), points, faces=quads)


def character_path():
    path = os.path.join(MODELS, "glTF2", "simple_skin", "simple_skin.gltf")
    if not os.path.exists(path):
        pytest.skip(f"{path} is missing (package assimp-testmodels)")
    return path


def test_character_frames_are_the_scene_evaluated_at_each_frame(program, tmp_path):
    path = character_path()
    character = tessamire.import_character(path)
    assert len(character.meshes) == 1
    mesh = character.meshes[0]
    n = len(mesh.points)
    assert mesh.weights.shape == (len(mesh.joints), n)
    assert np.allclose(mesh.weights.sum(axis=0), 1.0, atol=1e-5)
    assert mesh.frames.shape[1:] == (n, 3) and mesh.frames.shape[0] > 1
    assert any(not np.array_equal(mesh.frames[0], frame) for frame in mesh.frames)
    done = program("scene", "import", path, "--out", str(tmp_path / "c.scene"))
    assert done.returncode == 0, done.stderr
    scene = tessamire.Scene.load(str(tmp_path / "c.scene"))
    assert mesh.name in scene.objects
    for f in (0, len(mesh.frames) // 2, len(mesh.frames) - 1):
        assert np.array_equal(scene.evaluate(f)[mesh.name], mesh.frames[f]), f"frame {f}"
    with pytest.raises(ValueError):
        scene.evaluate(float("nan"))
    # The same animation picked by its index and by its name.
    by_index = tessamire.import_character(path, 0)
    assert by_index.clip == character.clip
    assert np.array_equal(tessamire.import_character(path, character.clip).meshes[0].frames,
                          by_index.meshes[0].frames)
    with pytest.raises(OSError):
        tessamire.import_character(path, "no such clip")


@pytest.mark.parametrize("clip, all_clips, frames", [
    (["Wuson_Walk", 0], False, 109 + 30),
    ("2,1", False, 1 + 109),
    (None, True, 30 + 109 + 1),
])
def test_several_clips_are_imported_end_to_end(clip, all_clips, frames):
    path = os.path.join(MODELS, "X", "Testwuson.X")
    if not os.path.exists(path):
        pytest.skip(f"{path} is missing (package assimp-testmodels)")
    character = tessamire.import_character(path, clip, all_clips=all_clips)
    assert character.meshes[0].frames.shape[0] == frames
    with pytest.raises((OSError, ValueError)):
        tessamire.import_character(path, 0, all_clips=True)


def _triangle_gltf(folder, uri):
    """A glTF of one triangle whose positions are in the file `uri` names."""
    (folder / "tri.gltf").write_text(
        '{"asset":{"version":"2.0"},"buffers":[{"byteLength":36,"uri":"' + uri + '"}],'
        '"bufferViews":[{"buffer":0,"byteLength":36}],"accessors":[{"bufferView":0,'
        '"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]}],'
        '"meshes":[{"name":"tri","primitives":[{"attributes":{"POSITION":0}}]}],'
        '"nodes":[{"mesh":0}],"scenes":[{"nodes":[0]}],"scene":0}')
    return str(folder / "tri.gltf")


def test_a_characters_files_come_from_its_asset_root_only(tmp_path):
    inner = tmp_path / "chars"
    inner.mkdir()
    np.array([0, 0, 0, 1, 0, 0, 0, 1, 0], dtype="<f4").tofile(tmp_path / "outside.bin")
    path = _triangle_gltf(inner, "../outside.bin")
    with pytest.raises(OSError, match="outside.bin, lies outside the asset root"):
        tessamire.import_character(path)
    character = tessamire.import_character(path, asset_root=str(tmp_path))
    assert character.meshes[0].points.shape == (3, 3)
    with pytest.raises(OSError, match="not a folder"):
        tessamire.import_character(path, asset_root=str(tmp_path / "none"))


def test_scene_saved_loads_and_evaluates_the_same(program, tmp_path):
    points, quads = grid(6)
    tessamire.write_obj(str(tmp_path / "m.obj"), points, faces=quads)
    frames = np.stack([points, points * [1, 1, 2], points + [0, 0, 1]])
    tessamire.write_cache(str(tmp_path / "m.pc2"), frames)
    done = program("scene", "import", str(tmp_path / "m.obj"), "--bind", "--cache",
                   str(tmp_path / "m.pc2"), "--out", str(tmp_path / "m.scene"))
    assert done.returncode == 0, done.stderr
    scene = tessamire.Scene.load(str(tmp_path / "m.scene"))
    scene.save(str(tmp_path / "again.scene"))
    again = tessamire.Scene.load(str(tmp_path / "again.scene"))
    for f in range(3):
        assert np.array_equal(scene.evaluate(f)["m"], again.evaluate(f)["m"])
    assert not np.array_equal(scene.evaluate(1)["m"], scene.evaluate(2)["m"])


def test_an_imports_notes_go_to_the_logger_as_the_program_prints_them(caplog):
    path = character_path()
    with caplog.at_level(logging.INFO, logger="tessamire"):
        character = tessamire.import_character(path)
    assert character.notes
    logged = [r.getMessage() for r in caplog.records if r.name == "tessamire"]
    assert logged == [f"{path}: note: {note}" for note in character.notes]
