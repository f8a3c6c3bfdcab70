"""The workspace: shapes, initial values, reset, getters."""
import numpy as np
import pytest

import kavrel
from kavrel import SE3, Data, Model
from kinematic_trees import FRAMES, PASSES, X, Z, changed, model_of, random_state, snapshot


def tree_model():
    """Floating base with a revolute chain and a prismatic branch, and a weld: nq 9, nv 8."""
    return model_of((0, "floating", Z, [0, 0, 0]), (1, "revolute", Z, [0, 0, 0.5]), (2, "prismatic", X, [0, 0, 0]),
                    (1, "fixed", Z, [1, 2, 3]))


def assert_fresh(data, njoints, nq, nv):
    """Shapes of a model's sizes, every array zero, every placement the identity."""
    assert (data.njoints, data.nq, data.nv) == (njoints, nq, nv)
    assert repr(data) == f"Data(njoints={njoints}, nq={nq}, nv={nv})"
    for name, shape in {
        "M": (nv, nv), "C": (nv, nv), "g": (nv,), "tau": (nv,), "nle": (nv,),
        "J": (6, nv), "dJ": (6, nv), "ag": (6, nv), "dag": (6, nv), "jcom": (3, nv),
        "v": (njoints, 6), "a": (njoints, 6), "f": (njoints, 6), "ov": (njoints, 6),
        "a_gf": (njoints, 6), "momentum": (njoints, 6), "com": (njoints, 3), "vcom": (njoints, 3),
        "mass": (njoints,), "composite_inertia": (njoints, 6, 6), "inertia_variation": (njoints, 6, 6),
        "hg": (6,), "dhg": (6,), "ig": (6, 6), "ddq": (nv,), "Minv": (nv, nv),
        "dtau_dq": (nv, nv), "dtau_dv": (nv, nv), "ddq_dq": (nv, nv), "ddq_dv": (nv, nv),
    }.items():
        value = getattr(data, name)
        assert value.shape == shape and value.dtype == np.float64 and value.flags.c_contiguous, name
        assert not value.any(), name
    assert len(data.oMi) == len(data.liMi) == njoints
    for placement in data.oMi + data.liMi:
        np.testing.assert_array_equal(placement.homogeneous, np.eye(4))
    assert data.kinetic_energy == data.potential_energy == data.mechanical_energy == 0.0


def test_fresh_reset_and_a_workspace_older_than_its_model():
    assert_fresh(Data(Model()), 1, 0, 0)
    model = tree_model()
    data, tip = Data(model), model.add_frame("tip", 3, SE3(np.eye(3), X))
    assert_fresh(data, 5, 9, 8)
    for get in (kavrel.getFrameJacobian, kavrel.getFrameJacobianTimeVariation):
        for rf in FRAMES:  # nothing computed yet: zero, not whatever the memory held
            assert not get(model, data, tip, rf).any()
    q, v, _ = random_state(model, np.random.default_rng(3))
    for i in range(1, model.njoints):
        model.set_body_inertia(i, 1.0, np.zeros(3), np.eye(3))
    for name in ("computeAllTerms", "computeCoriolisMatrix", "aba_derivatives"):
        PASSES[name](model, data, q, v, 0)
    assert {"J", "dJ", "v", "C", "ddq", "Minv", "dtau_dq", "dtau_dv", "ddq_dq", "ddq_dv"} <= changed(
        snapshot(Data(model)), snapshot(data))
    data.reset()
    assert_fresh(data, 5, 9, 8)
    # The workspace keeps the shape it was made with, safe to read and to reset.
    model.add_joint(4, "revolute", Z, SE3.identity(), "late")
    assert_fresh(data, 5, 9, 8)
    data.reset()
    assert "njoints: 5" in str(data)


def test_placement_getters_and_read_only_copies():
    model = tree_model()
    data = Data(model)
    kavrel.computeJointJacobians(model, data, kavrel.neutral(model))
    for i in range(model.njoints):
        translation = data.get_joint_translation(i)
        np.testing.assert_array_equal(translation, data.get_joint_placement(i).homogeneous[:3, 3])
        np.testing.assert_array_equal(translation, data.oMi[i].homogeneous[:3, 3])
    np.testing.assert_array_equal(data.get_joint_translation(4), [1.0, 2.0, 3.0])
    data.J[:] = 7.0
    assert not (data.J == 7.0).all() and data.oMi[0] is not data.oMi[0]
    with pytest.raises(AttributeError):
        data.M = np.zeros((8, 8))
