"""tessamire.bake: the weights come back as arrays, agree with the glTF written and the report,
and bad arguments are refused by name."""

import os

import numpy as np
import pytest

MODEL = "/usr/share/assimp/models/X/anim_test.x"


@pytest.fixture(scope="module")
def model():
    if not os.path.exists(MODEL):
        pytest.skip(f"{MODEL} is missing (package assimp-testmodels)")
    return MODEL


def test_bake_returns_the_weights_and_the_report(model, tmp_path):
    import tessamire
    out = tmp_path / "baked.glb"
    baked = tessamire.bake(model, out, report=True, influences=4)
    assert out.stat().st_size > 0
    [(name, mesh)] = baked["meshes"].items()
    assert name == "pCylinder1"
    joints, weights, kept = mesh["joints"], mesh["weights"], mesh["kept_source"]
    assert joints.shape == weights.shape == (422, 4)
    assert joints.dtype == np.int32 and weights.dtype == np.float32 and kept.shape == (422,)
    # Each point's weights are non-negative, sum to 1 and sit on named joints.
    assert (weights >= 0).all()
    np.testing.assert_allclose(weights.sum(axis=1), 1.0, atol=1e-5)
    assert ((joints >= 0) | (weights == 0)).all()
    assert any(line.startswith("held out: 6 frames") for line in baked["report"])
    assert tessamire.bake(model, tmp_path / "quiet.glb")["report"] == []


@pytest.mark.parametrize("arguments, error, words", [
    ({"influences": 5}, ValueError, "--influences"),
    ({"range_of_motion": -1.0}, ValueError, "--range-of-motion"),
    ({"holdout": -2}, ValueError, "--holdout"),
])
def test_bake_refuses_bad_arguments(model, tmp_path, arguments, error, words):
    import tessamire
    with pytest.raises(error, match=words):
        tessamire.bake(model, tmp_path / "b.glb", **arguments)
    assert not (tmp_path / "b.glb").exists()
