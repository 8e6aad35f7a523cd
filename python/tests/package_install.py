"""The package as a user installs it: pip from the source tree into a virtual environment, and a
wheel, with no network. The build drives the source tree's plain CMake build (build/), so after
that build has run they only copy. CTest runs this as PythonPackageInstall (plain builds)."""

import os
import subprocess
import sys
import zipfile

import pytest

SOURCE = os.environ.get("TESSAMIRE_SOURCE", "")
SYSTEM_PYTHON = "/usr/bin/python3"

CHECK = """
import importlib.metadata, os, sys
import numpy as np
import tessamire
assert os.path.realpath(tessamire.__file__).startswith(os.path.realpath(sys.prefix)), tessamire.__file__
points = np.array([[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0], [2, 0, 0], [2, 1, 0]], float)
fix = tessamire.Correction(points, [[0, 1, 2, 3], [1, 4, 5, 2]], iterations=2)
assert fix.apply(points + [0, 0, 0.5]).shape == (6, 3)
print(importlib.metadata.version("tessamire"), tessamire.__version__, tessamire.plugin_folder())
"""


def clean_env():
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "TESSAMIRE_PLUGINS")}
    env["PIP_NO_INDEX"] = "1"
    env["PIP_DISABLE_PIP_VERSION_CHECK"] = "1"  # no look for a newer pip over the network
    return env


@pytest.fixture(scope="module")
def source():
    if not SOURCE:
        pytest.skip("TESSAMIRE_SOURCE names no source tree (CTest gives it)")
    return SOURCE


def test_pip_installs_the_package_into_a_virtual_environment(source, tmp_path):
    venv = tmp_path / "venv"
    subprocess.run([SYSTEM_PYTHON, "-m", "venv", "--system-site-packages", str(venv)],
                   check=True)
    python = str(venv / "bin" / "python")
    install = subprocess.run([python, "-m", "pip", "install", "--no-build-isolation",
                              "--no-index", source], env=clean_env(), cwd=tmp_path,
                             capture_output=True, text=True)
    assert install.returncode == 0, install.stdout + install.stderr
    done = subprocess.run([python, "-c", CHECK], env=clean_env(), cwd=tmp_path,
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    version, module_version, plugins = done.stdout.split()
    assert version == module_version
    # The installed package runs the plug-in it carries, not the build tree's.
    assert plugins.startswith(str(venv)), plugins


def test_a_wheel_holds_the_module_its_stub_and_the_plugin_folder(source, tmp_path):
    done = subprocess.run([SYSTEM_PYTHON, "-m", "build", "--wheel", "--no-isolation",
                           "--outdir", str(tmp_path), source], env=clean_env(), cwd=tmp_path,
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr
    wheels = [name for name in os.listdir(tmp_path) if name.endswith(".whl")]
    assert len(wheels) == 1 and "linux" in wheels[0], wheels
    names = zipfile.ZipFile(tmp_path / wheels[0]).namelist()
    for expected in ("tessamire/__init__.py", "tessamire/__init__.pyi", "tessamire/py.typed"):
        assert expected in names
    assert any(n.startswith("tessamire/_tessamire") and n.endswith(".so") for n in names)
    assert any(n.startswith("tessamire/plugins/") and n.endswith(".xdl64") for n in names)
    assert any(n.startswith("tessamire/plugins/") and "/res/" in n for n in names)
    # The character reader the module starts for every character file travels with it.
    assert "tessamire/tessamire-reader" in names


if __name__ == "__main__":
    sys.exit(pytest.main([__file__]))
