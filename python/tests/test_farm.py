"""The farm: a local cluster of two worker processes against the command line's files, a worker
that exits during a task, stamps that skip what is done, and the shots list's refusals."""

import os
import re
import subprocess

import numpy as np
import pytest

import tessamire
from conftest import MODELS, grid
from tessamire import farm

ANIM_TEST = os.path.join(MODELS, "X", "anim_test.x")
SIMPLE_SKIN = os.path.join(MODELS, "glTF2", "simple_skin", "simple_skin.gltf")

SHOTS = """
chunk = 3
[defaults]
iterations = 5

[[shots]]
name = "anim_obj"
character = "{anim}"
frames = [0, 7]
out = "out/anim_obj"

[[shots]]
name = "anim_pc2"
character = "{anim}"
format = "pc2"
strength = 0.5
out = "out/anim_pc2"

[[shots]]
name = "skin_glb"
character = "{skin}"
format = "glb"
out = "out/skin_glb"

[[shots]]
name = "grid_pc2"
rest = "rest.obj"
cache = "in.pc2"
weighting = 1
out = "out/grid_pc2/c.pc2"

[[shots]]
name = "grid_mdd"
rest = "rest.obj"
cache = "in.mdd"
out = "out/grid_mdd/c.mdd"

[[shots]]
name = "grid_seq"
rest = "rest.obj"
sequence = "seq/s.####.obj"
frames = [1, 8]
out = "out/grid_seq/c.####.obj"
"""

# The command line's run of each shot, into cli/ (with the list's default --iterations 5).
COMMANDS = {
    "anim_obj": ["correct", "{anim}", "--format", "obj", "--frames", "0:7", "--out",
                 "cli/anim_obj"],
    "anim_pc2": ["correct", "{anim}", "--format", "pc2", "--strength", "0.5", "--out",
                 "cli/anim_pc2"],
    "skin_glb": ["correct", "{skin}", "--format", "glb", "--out", "cli/skin_glb"],
    "grid_pc2": ["apply", "--rest", "rest.obj", "in.pc2", "--weighting", "1", "--out",
                 "cli/grid_pc2/c.pc2"],
    "grid_mdd": ["apply", "--rest", "rest.obj", "in.mdd", "--out", "cli/grid_mdd/c.mdd"],
    "grid_seq": ["apply", "--rest", "rest.obj", "seq/s.####.obj", "--frames", "1:8", "--out",
                 "cli/grid_seq/c.####.obj"],
}


def files(folder):
    """Every file under `folder` but the stamps, by its path within it."""
    found = {}
    for top, _, names in os.walk(folder):
        for name in names:
            if not name.endswith(farm.STAMP):
                path = os.path.join(top, name)
                found[os.path.relpath(path, folder)] = open(path, "rb").read()
    return found


def hidden(folder):
    return [os.path.join(top, n) for top, dirs, names in os.walk(folder)
            for n in names + dirs if n.startswith(".")]


@pytest.fixture(scope="module")
def show(tmp_path_factory):
    """The inputs, the list of six shots and the command line's outputs of each."""
    for path in (ANIM_TEST, SIMPLE_SKIN):
        if not os.path.exists(path):
            pytest.skip(f"{path} is missing (package assimp-testmodels)")
    cli = os.environ.get("TESSAMIRE_CLI")
    if not cli:
        pytest.skip("TESSAMIRE_CLI names no program (CTest gives the build's)")
    folder = tmp_path_factory.mktemp("show")
    points, quads = grid(8)
    tessamire.write_obj(folder / "rest.obj", points, faces=quads)
    rest = tessamire.read_obj(folder / "rest.obj")
    frames = np.stack([points * [1.0, 1.0, 1.0 + 0.1 * i] + [0.0, 0.05 * i, 0.0]
                       for i in range(10)])
    tessamire.write_cache(folder / "in.pc2", frames, start=3.0, rate=1.0)
    tessamire.write_cache(folder / "in.mdd", frames)
    (folder / "seq").mkdir()
    for f in range(1, 9):
        tessamire.write_obj(folder / "seq" / f"s.{f:04d}.obj", frames[f], like=rest)
    for name in ("grid_pc2", "grid_mdd", "grid_seq"):
        (folder / "cli" / name).mkdir(parents=True)
    for command in COMMANDS.values():
        args = [a.format(anim=ANIM_TEST, skin=SIMPLE_SKIN) for a in command]
        done = subprocess.run([cli, *args, "--iterations", "5", "--quiet"], cwd=folder,
                              capture_output=True, text=True)
        assert done.returncode == 0, done.stderr
    (folder / "shots.toml").write_text(SHOTS.format(anim=ANIM_TEST, skin=SIMPLE_SKIN))
    return folder


def cluster(env=None):
    distributed = pytest.importorskip("distributed")
    os.environ.update(env or {})
    try:
        local = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                         dashboard_address=None)
    finally:
        for key in env or {}:
            del os.environ[key]
    return local, distributed.Client(local)


@pytest.mark.farm
def test_the_farm_writes_the_command_lines_files_and_skips_what_is_done(show):
    local, client = cluster()
    try:
        result = farm.run(show / "shots.toml", client, progress=False)
        assert result["failed"] == {}
        assert sorted(result["done"]) == sorted(COMMANDS)
        theirs = files(show / "cli")
        assert files(show / "out") == theirs
        assert hidden(show / "out") == []
        # Again: every stamp holds, nothing runs.
        again = farm.run(show / "shots.toml", client, progress=False)
        assert again == {"done": [], "skipped": list(COMMANDS), "failed": {}}
        # A setting changed redoes that shot alone, as the command line would.
        changed = (show / "shots.toml").read_text().replace("weighting = 1", "weighting = 0")
        (show / "changed.toml").write_text(changed)
        redone = farm.run(show / "changed.toml", client, progress=False)
        assert redone["done"] == ["grid_pc2"] and len(redone["skipped"]) == 5
        assert files(show / "out")["grid_pc2/c.pc2"] != theirs["grid_pc2/c.pc2"]
        # An input touched (its modification time) redoes the shots that read it.
        os.utime(show / "in.mdd", ns=(0, os.stat(show / "in.mdd").st_mtime_ns + 10**9))
        touched = farm.run(show / "changed.toml", client, progress=False)
        assert touched["done"] == ["grid_mdd"]
        assert files(show / "out")["grid_mdd/c.mdd"] == theirs["grid_mdd/c.mdd"]
    finally:
        client.close()
        local.close()


@pytest.mark.farm
def test_a_worker_that_exits_during_a_task_has_it_run_again(show, tmp_path):
    (tmp_path / "shots.toml").write_text((show / "shots.toml").read_text()
                                         .replace('"out/', f'"{tmp_path}/out/'))
    for name in ("rest.obj", "in.pc2", "in.mdd", "seq"):
        os.symlink(show / name, tmp_path / name)
    local, client = cluster({farm.EXIT_SWITCH: "2"})
    try:
        before = set(client.scheduler_info()["workers"])
        result = farm.run(tmp_path / "shots.toml", client, progress=False)
        assert result["failed"] == {}
        # One worker process exited (the one replacing it has another address).
        assert before - set(client.scheduler_info()["workers"])
        assert files(tmp_path / "out") == files(show / "cli")
        assert hidden(tmp_path / "out") == []
    finally:
        client.close()
        local.close()


@pytest.mark.parametrize("text, message", [
    ('[[shots]]\nname = "a"\nout = "o"\ncharacter = "c.fbx"\ncolour = 3',
     "shot a: colour: no shot takes this key"),
    ('[[shots]]\nname = "a"\ncharacter = "c.fbx"', "shot a: out: missing"),
    ('[[shots]]\nname = "a"\nout = "o"\ncharacter = "c.fbx"\nrest = "r.obj"',
     "shot a: character/rest: give exactly one"),
    ('[[shots]]\nname = "a"\nout = "o"\ncharacter = "c.fbx"\nframes = [5, 2]',
     "shot a: frames: the first frame 5 is after the last 2"),
    ('[[shots]]\nname = "a"\nout = "o"\ncharacter = "c.fbx"\nframes = "0:5"',
     "shot a: frames: wants list"),
    ('[[shots]]\nname = "a"\nout = "o"\ncharacter = "c.fbx"\nformat = "fbx"',
     "shot a: format: wants one of obj, pc2, mdd, glb"),
    ('[[shots]]\nname = "a"\nout = "o"\ncharacter = "c.fbx"\niterations = 2.5',
     "shot a: iterations: wants int"),
    ('[[shots]]\nname = "a"\nout = "o.mdd"\nrest = "r.obj"\ncache = "c.pc2"',
     "shot a: out: the corrected cache is a .pc2 file"),
    ('[[shots]]\nname = "a"\nout = "o/c.obj"\nrest = "r.obj"\nsequence = "s.####.obj"\n'
     'frames = [1, 2]', "shot a: out: a numbered sequence names its frames with ####"),
    ('[[shots]]\nname = "a"\nout = "o/c.####.obj"\nrest = "r.obj"\nsequence = "s.####.obj"',
     "shot a: frames: a sequence's shot wants"),
    ('[[shots]]\nname = "a"\nout = "o"\nrest = "r.obj"\ncache = "c.pc2"\nsettings = "auto"',
     "shot a: settings: a rest mesh's shot takes no settings"),
    ('[[shots]]\nout = "o"\ncharacter = "c.fbx"', "shot shots[0]: name: missing"),
    ('[[shots]]\nname = "a"\nout = "o"\ncharacter = "c.fbx"\n'
     '[[shots]]\nname = "a"\nout = "p"\ncharacter = "c.fbx"', "shot a: name: two shots"),
    ('[[shots]]\nname = "a"\nout = "o"\ncharacter = "c.fbx"\n'
     '[[shots]]\nname = "b"\nout = "o"\ncharacter = "d.fbx"', "shot b: out: shot a writes"),
    ('chunk = 0\n[[shots]]\nname = "a"\nout = "o"\ncharacter = "c.fbx"', "chunk: wants"),
    ('shot = []', "shot: not a key of a list of shots"),
    ('[[shots]\nname = "a"', "not TOML"),
])
def test_a_shots_list_at_fault_is_refused_naming_the_shot_and_key(text, message, tmp_path):
    (tmp_path / "shots.toml").write_text(text)
    with pytest.raises(farm.ShotError, match=re.escape(message)):
        farm.load_shots(tmp_path / "shots.toml")


def test_the_farm_program_refuses_a_bad_list_before_starting_a_cluster(tmp_path, capsys):
    (tmp_path / "shots.toml").write_text('[[shots]]\nname = "a"\nout = "o"')
    assert farm.main([str(tmp_path / "shots.toml")]) == 2
    assert "shot a: character/rest: give exactly one of them" in capsys.readouterr().err
