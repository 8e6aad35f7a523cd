"""Shared inputs of the module's tests: a real mesh, a bend of it, and the program."""

import os
import subprocess

import numpy as np
import pytest

MODELS = "/usr/share/assimp/models"
WUSON = os.path.join(MODELS, "OBJ", "WusonOBJ.obj")


def bend(points: np.ndarray, angle: float) -> np.ndarray:
    """`points` bent about the z axis, more the higher they are, with a ripple."""
    y = points[:, 1]
    height = (y - y.min()) / max(y.max() - y.min(), 1e-12)
    turn = angle * height
    out = points.copy()
    out[:, 0] = points[:, 0] * np.cos(turn) - y * np.sin(turn)
    out[:, 1] = points[:, 0] * np.sin(turn) + y * np.cos(turn)
    out[:, 2] += 0.01 * np.sin(7.0 * y)
    return out


@pytest.fixture(scope="session")
def wuson():
    import tessamire
    if not os.path.exists(WUSON):
        pytest.skip(f"{WUSON} is missing (package assimp-testmodels)")
    return tessamire.read_obj(WUSON)


@pytest.fixture(scope="session")
def program():
    """Runs the `tessamire` program of the same build; answers the completed process."""
    path = os.environ.get("TESSAMIRE_CLI")
    if not path:
        pytest.skip("TESSAMIRE_CLI names no program (CTest gives the build's)")

    def run(*args):
        return subprocess.run([path, *args], capture_output=True, text=True)
    return run


def grid(n: int = 12):
    """A bumpy n x n grid of quads: points (n*n, 3) and faces (M, 4)."""
    u, v = np.meshgrid(np.arange(n, dtype=float), np.arange(n, dtype=float), indexing="ij")
    z = 0.2 * np.sin(u) * np.cos(v)
    points = np.stack([u.ravel(), v.ravel(), z.ravel()], axis=1)
    index = np.arange(n * n).reshape(n, n)
    faces = np.stack([index[:-1, :-1].ravel(), index[1:, :-1].ravel(),
                      index[1:, 1:].ravel(), index[:-1, 1:].ravel()], axis=1)
    return points, faces


def pytest_configure(config):
    config.addinivalue_line("markers", "farm: starts a local cluster of worker processes; CTest "
                                       "runs these alone, as PythonFarm")
