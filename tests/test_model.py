"""The model built joint by joint: sizes, offsets, names, gravity, bodies, joint and frame tables."""
import numpy as np
import pytest

import kavrel
from kavrel import SE3, Data, Model
from kinematic_trees import ALL_KINDS, SIZES, Z, assert_close, random_joint_rows, rpy_matrix, tree_from_urdf, urdf_text


def test_new_model():
    model = Model()
    assert (model.njoints, model.nframes, model.nq, model.nv, model.names, model.parents, model.name) == (
        1, 1, 0, 0, ["universe"], [0], "")
    assert model.lowerPositionLimit.shape == (0,) and model.upperPositionLimit.shape == (0,)
    np.testing.assert_array_equal(model.gravity_full, [0.0, 0.0, -9.81, 0.0, 0.0, 0.0])
    assert model.getFrameId("universe") == 0 and model.get_joint_id("universe") == 0
    # Properties are new objects, and read-only.
    model.gravity[2] = 0.0
    assert model.gravity[2] == -9.81 and model.names is not model.names
    for name in ("nq", "nv", "njoints", "nframes", "names", "name", "gravity", "parents"):
        with pytest.raises(AttributeError):
            setattr(model, name, 1)


def test_add_joint_names_and_sizes():
    model = Model()
    model.set_name("arm")
    add = lambda parent, name: model.add_joint(parent, "revolute", Z, SE3.identity(), name)
    assert add(0, "a") == 1 and model.getFrameId("a") is None  # add_joint adds no frame
    assert model.get_joint_id("missing") is None and model.getFrameId("missing") is None
    add(1, "b")
    add(1, "b")
    assert model.parents == [0, 0, 1, 1] and model.names == ["universe", "a", "b", "b"]
    assert model.get_joint_id("a") == 1 and model.get_joint_id("b") == 2  # the first match
    # The axis of a floating or fixed joint is not checked.
    assert model.add_joint(0, "floating", np.zeros(0), SE3.identity(), "base") == 4
    assert model.add_joint(4, "fixed", np.zeros(7), SE3.identity(), "weld") == 5
    assert (model.name, model.njoints, model.nq, model.nv) == ("arm", 6, 10, 9)
    assert repr(model) == "Model(name='arm', njoints=6, nframes=1, nq=10, nv=9)"
    data = model.createData()
    assert isinstance(data, Data) and repr(data) == repr(Data(model)) == "Data(njoints=6, nq=10, nv=9)"
    assert data is not model.createData()
    # Bodies start massless; an inertia reads back as set, as a copy.
    assert model.get_body_inertia(1)[0] == 0.0
    rotational = np.array([[1.0, 0.1, 0.2], [0.1, 2.0, 0.3], [0.2, 0.3, 3.0]])
    model.set_body_inertia(1, 2.5, np.array([0.1, 0.2, 0.3]), rotational)
    mass, lever, stored = model.get_body_inertia(1)
    assert mass == 2.5 and lever.tolist() == [0.1, 0.2, 0.3] and np.array_equal(stored, rotational)
    stored[0, 0] = 9.0
    assert model.get_body_inertia(1)[2][0, 0] == 1.0


def test_gravity_parts_are_set_independently():
    model, frozen = Model(), np.array([0.0, 0.0, -1.62])
    frozen.setflags(write=False)  # read-only arrays are read
    model.set_gravity_angular(np.array([0.1, 0.2, 0.3]))
    model.set_gravity(frozen)
    np.testing.assert_array_equal(model.gravity_full, [0.0, 0.0, -1.62, 0.1, 0.2, 0.3])
    model.set_gravity_full(np.arange(1.0, 7.0))
    assert model.gravity.tolist() == [1, 2, 3] and model.gravity_angular.tolist() == [4, 5, 6]


# -- joint and frame tables, operational frames ------------------------------------------------

@pytest.mark.parametrize("seed", range(2))
def test_tables_describe_the_model(seed):
    rows = random_joint_rows(np.random.default_rng(60 + seed), 8, ALL_KINDS)
    tree = tree_from_urdf(urdf_text(rows))
    model = tree.model
    assert model.joint_types == tree.kinds
    assert model.joint_nq == [SIZES[k][0] for k in tree.kinds] and model.joint_nv == tree.nv_of
    assert model.joint_q_idx == list(tree.q_idx) and model.joint_v_idx == list(tree.v_idx)
    # Limits on every velocity of a joint; axes as the document gives them, unnormalised (kinds without an axis
    # store zeros); origins as placements, rolled, pitched and yawed about the fixed x, y and z.
    assert (model.lowerPositionLimit.tolist(), model.upperPositionLimit.tolist()) == ([-1] * model.nv, [1] * model.nv)
    row_of = {r["name"]: r for r in rows}
    for name, axis, placement in zip(model.names[1:], model.joint_axes[1:], model.joint_placements[1:]):
        r = row_of[name]
        np.testing.assert_array_equal(axis, np.zeros(3) if r["kind"] in ("fixed", "floating", "spherical") else r["axis"])
        assert_close(placement.rotation, rpy_matrix(*r["rpy"]), 1e-15, f"rotation of {name}")
        np.testing.assert_array_equal(placement.translation, r["xyz"])
    # Joint placements rebuild the neutral forward kinematics.
    data = Data(model)
    kavrel.forwardKinematics(model, data, kavrel.neutral(model))
    stacked = data.oMi_homogeneous
    for i, placement in enumerate(model.joint_placements[1:], 1):
        assert_close(stacked[i], stacked[model.parents[i]] @ placement.homogeneous, 1e-14, f"oMi[{i}]")
    # An operational frame comes after the importer's; other frame tables: see the URDF and report tests.
    placement, tcp = SE3(rpy_matrix(0.1, 0.2, 0.3), np.array([0.0, 0.0, 0.1])), model.nframes
    assert model.add_frame(name="tcp", parent_joint=3, placement=placement) == tcp
    assert (model.nframes, model.getFrameId("tcp"), model.frame_parents[tcp], model.frame_types[tcp]) == (
        tcp + 1, tcp, 3, "OP_FRAME")
    assert len(model.frame_placements) == model.nframes
    np.testing.assert_array_equal(model.frame_placements[tcp].homogeneous, placement.homogeneous)
