"""Copies and pickles of the four classes."""
import copy
import pickle

import numpy as np
import pytest

import kavrel
from kavrel import SE3, Data, Model, ReferenceFrame
from kinematic_trees import (FRAMES, PASSES, add_joint_tree, described, random_state, rpy_matrix, snapshot, urdf_tree,
                             with_inertias)

ROUND_TRIPS = [
    pytest.param(copy.copy, id="copy"),
    pytest.param(copy.deepcopy, id="deepcopy"),
    pytest.param(lambda x: pickle.loads(pickle.dumps(x)), id="pickle"),
    pytest.param(lambda x: pickle.loads(pickle.dumps(x, protocol=2)), id="pickle-2"),
]


def results(model, rng):
    """Every workspace field after each pass at one random state, then every frame's placement and Jacobians."""
    data, (q, v, _) = model.createData(), random_state(model, rng)
    out = [kavrel.neutral(model), q]
    for run in PASSES.values():
        run(model, data, q, v, 1)
        out += snapshot(data).values()
    for f in range(model.nframes):
        out += [kavrel.getFramePlacement(model, data, f).homogeneous] + [
            get(model, data, f, rf) for rf in FRAMES for get in (kavrel.getFrameJacobian, kavrel.getFrameJacobianTimeVariation)]
    return out


def models():
    rng = np.random.default_rng(3)
    built = with_inertias(add_joint_tree(rng, 6).model, rng)
    built.set_body_inertia(0, 1.0, rng.normal(size=3), np.eye(3))
    built.set_gravity_full(rng.normal(size=6))
    built.set_name("built")
    imported = with_inertias(urdf_tree(rng, 6).model, rng).with_floating_base()
    for model in (built, imported):
        model.add_frame("tool", model.njoints - 1, SE3(rpy_matrix(0.3, -0.2, 1.0), np.array([0.1, 0.2, 0.3])))
    return [pytest.param(built, id="add_joint"), pytest.param(imported, id="urdf")]


@pytest.mark.parametrize("round_trip", ROUND_TRIPS)
@pytest.mark.parametrize("model", models())
def test_model_round_trips_exactly(model, round_trip):
    twin = round_trip(model)
    assert twin is not model
    expected, got = described(model), described(twin)
    for name in expected:
        np.testing.assert_array_equal(got[name], expected[name], err_msg=name)
    for ours, theirs in zip(results(twin, np.random.default_rng(1)), results(model, np.random.default_rng(1))):
        np.testing.assert_array_equal(ours, theirs)
    twin.set_name("changed")
    assert model.name != "changed"


@pytest.mark.parametrize("round_trip", ROUND_TRIPS)
def test_small_values_round_trip(round_trip):
    x = SE3(rpy_matrix(0.1, 0.2, 0.3), np.array([1.0, 2.0, 3.0]))
    np.testing.assert_array_equal(round_trip(x).homogeneous, x.homogeneous)
    for value in FRAMES + [ReferenceFrame()]:
        assert round_trip(value) is getattr(ReferenceFrame, repr(value).split(".")[1])
    model = add_joint_tree(np.random.default_rng(4), 5).model
    data = model.createData()
    kavrel.computeAllTerms(model, data, kavrel.neutral(model), np.ones(model.nv))
    fresh = round_trip(data)
    assert isinstance(fresh, Data) and repr(fresh) == repr(data)
    assert not fresh.J.any() and not fresh.M.any() and data.J.any()
    kavrel.computeAllTerms(model, fresh, kavrel.neutral(model), np.ones(model.nv))
    np.testing.assert_array_equal(fresh.M, data.M)
    fresh.__setstate__((2, 7, 6))  # refused states: see the module tests
    assert repr(fresh) == "Data(njoints=2, nq=7, nv=6)" and fresh.M.shape == (6, 6)


def test_model_state_refusals_change_nothing():
    model, target = urdf_tree(np.random.default_rng(5), 3).model, Model()
    saved = model.__reduce__()[2]
    # Every cut of a saved model is refused, never read past its end.
    for cut in range(len(saved)):
        with pytest.raises(ValueError, match="^Model state is not valid: (not a saved model|truncated)$"):
            target.__setstate__(saved[:cut])
    # Joint 1's record: after the format tag, the name, gravity, the joint count and joint 0's inertia.
    kind = 13 + 8 + len(model.name.encode()) + 48 + 8 + 80
    patched = lambda at, value: saved[:at] + value + saved[at + len(value):]
    for state, error, message in [
        (patched(kind, b"\x07"), ValueError, "Model state is not valid: joint 1 has an unknown kind"),
        (patched(kind + 1, (9).to_bytes(8, "little")), ValueError, "Model state is not valid: parent 9 >= njoints 1"),
        (saved + b"\0", ValueError, "Model state is not valid: trailing bytes"),
        (b"kavrel.Model\x02" + saved[13:], ValueError, "Model state is not valid: not a saved model"),
        (saved.decode("latin-1"), TypeError, "argument 'state': 'str' object cannot be converted to 'PyBytes'"),
    ]:
        with pytest.raises(error) as raised:
            target.__setstate__(state)
        assert str(raised.value) == message
    assert repr(target) == repr(Model()) and target.frame_names == ["universe"]
    target.__setstate__(saved)
    assert target.__reduce__()[2] == saved
