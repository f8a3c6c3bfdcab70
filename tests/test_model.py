"""The model built joint by joint: sizes, offsets, names, gravity, bodies, joint and frame tables."""
import numpy as np
import pytest

import kavrel
from kavrel import SE3, Data, Model
from kinematic_trees import ALL_KINDS, SIZES, assert_close, random_joint_rows, rpy_matrix, tree_from_urdf, urdf_text

Z = np.array([0.0, 0.0, 1.0])


def add(model, parent, kind, name, axis=Z):
    return model.add_joint(parent, kind, axis, SE3.identity(), name)


def test_new_model():
    model = Model()
    assert (model.njoints, model.nframes, model.nq, model.nv, model.names, model.parents, model.name) == (
        1, 1, 0, 0, ["universe"], [0], "")
    assert model.lowerPositionLimit.shape == (0,) and model.upperPositionLimit.shape == (0,)
    np.testing.assert_array_equal(model.gravity_full, [0.0, 0.0, -9.81, 0.0, 0.0, 0.0])
    assert model.getFrameId("universe") == 0 and model.get_joint_id("universe") == 0
    assert repr(model) == "Model(name='', njoints=1, nframes=1, nq=0, nv=0)"
    # Properties are new objects, and read-only.
    model.gravity[2] = 0.0
    assert model.gravity[2] == -9.81 and model.names is not model.names
    for name in ("nq", "nv", "njoints", "nframes", "names", "name", "gravity", "parents"):
        with pytest.raises(AttributeError):
            setattr(model, name, 1)


def test_add_joint_names_and_sizes():
    model = Model()
    model.set_name("arm")
    assert add(model, 0, "revolute", "a") == 1 and model.getFrameId("a") is None  # add_joint adds no frame
    assert model.get_joint_id("missing") is None and model.getFrameId("missing") is None
    add(model, 1, "revolute", "b")
    add(model, 1, "revolute", "b")
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


@pytest.mark.parametrize("parent,kind,axis,message", [
    *((0, kind, Z, "Unknown joint type: " + kind) for kind in ("Revolute", "continuous", "planar", "spherical", "")),
    (0, "revolute", np.zeros(2), "Axis must be a 3D vector"),
    (0, "prismatic", np.zeros(4), "Axis must be a 3D vector"),
    (5, "revolute", Z, "parent 5 >= njoints 2"),
    (2, "fixed", Z, "parent 2 >= njoints 2"),
])
def test_add_joint_refusals_leave_model_unchanged(parent, kind, axis, message):
    model = Model()
    add(model, 0, "revolute", "j1")
    before = repr(model), model.names, model.parents
    with pytest.raises(ValueError) as error:
        model.add_joint(parent, kind, axis, SE3.identity(), "bad")
    assert str(error.value) == message
    assert (repr(model), model.names, model.parents) == before


def test_contiguity_is_checked_before_the_joint_type():
    with pytest.raises(TypeError, match="^The given array is not contiguous$"):
        Model().add_joint(0, "nonsense", np.zeros(6)[::2], SE3.identity(), "x")


def test_gravity():
    model = Model()
    for setter, size, message in [
        ("set_gravity", 3, "Gravity vector must have 3 elements [x, y, z]"),
        ("set_gravity_angular", 3, "Gravity angular vector must have 3 elements [wx, wy, wz]"),
        ("set_gravity_full", 6, "Full gravity vector must have 6 elements [lx, ly, lz, wx, wy, wz]"),
    ]:
        for wrong in (size - 1, size + 1, 0):
            with pytest.raises(ValueError) as error:
                getattr(model, setter)(np.ones(wrong))
            assert str(error.value) == message
    np.testing.assert_array_equal(model.gravity_full, [0.0, 0.0, -9.81, 0.0, 0.0, 0.0])
    # The parts are set independently.
    model.set_gravity_angular(np.array([0.1, 0.2, 0.3]))
    model.set_gravity(np.array([0.0, 0.0, -1.62]))
    np.testing.assert_array_equal(model.gravity_full, [0.0, 0.0, -1.62, 0.1, 0.2, 0.3])
    model.set_gravity_full(np.arange(1.0, 7.0))
    assert model.gravity.tolist() == [1, 2, 3] and model.gravity_angular.tolist() == [4, 5, 6]


def test_body_inertia_round_trip():
    add(model := Model(), 0, "revolute", "a")
    assert model.get_body_inertia(1)[0] == 0.0  # bodies start massless
    rotational = np.array([[1.0, 0.1, 0.2], [0.1, 2.0, 0.3], [0.2, 0.3, 3.0]])
    model.set_body_inertia(1, 2.5, np.array([0.1, 0.2, 0.3]), np.asfortranarray(rotational))
    mass, lever, stored = model.get_body_inertia(1)
    assert mass == 2.5 and lever.tolist() == [0.1, 0.2, 0.3]
    np.testing.assert_array_equal(stored, rotational)
    stored[0, 0] = 9.0
    assert model.get_body_inertia(1)[2][0, 0] == 1.0


I3, NOT_FINITE = np.eye(3), "Body inertia values must be finite"


@pytest.mark.parametrize("args,error,message", [
    ((2, 1.0, np.zeros(3), I3), ValueError, "joint_id 2 >= njoints 2"),
    ((1, 1.0, np.zeros(2), I3), ValueError, "lever must have 3 elements"),
    ((1, 1.0, np.zeros(3), np.eye(2)), ValueError, "rotational_inertia must be a 3x3 matrix"),
    ((1, -1.0, np.zeros(3), I3), ValueError, "mass must be non-negative"),
    ((1, float("nan"), np.zeros(3), I3), ValueError, NOT_FINITE),
    ((1, 1.0, np.array([0.0, np.inf, 0.0]), I3), ValueError, NOT_FINITE),
    ((1, 1.0, np.zeros(3), np.triu(np.ones((3, 3)))), ValueError, "rotational_inertia must be symmetric"),
    ((1, 1.0, np.zeros(3), np.eye(3) + 1e-9 * np.tri(3, k=-1)), ValueError, "rotational_inertia must be symmetric"),
    ((1, "1", np.zeros(3), I3), TypeError, "must be real number, not str"),
    ((1, 1.0, [0.0] * 3, I3), TypeError, "argument 'lever': 'list' object cannot be converted to 'PyArray<T, D>'"),
    ((1, 1.0, np.zeros(3), np.ones(9)), TypeError,
     "argument 'rotational_inertia': 'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    ((1, 1.0, np.zeros(6)[::2], I3), TypeError, "The given array is not contiguous"),
])
def test_body_inertia_refusals_change_nothing(args, error, message):
    add(model := Model(), 0, "revolute", "a")
    with pytest.raises(error) as raised:
        model.set_body_inertia(*args)
    assert str(raised.value).endswith(message)
    assert model.get_body_inertia(1)[0] == 0.0
    with pytest.raises(ValueError, match="^joint_id 7 >= njoints 2$"):
        model.get_body_inertia(7)


# -- joint and frame tables, operational frames ------------------------------------------------

@pytest.mark.parametrize("seed", range(2))
def test_tables_describe_the_model(seed):
    rows = random_joint_rows(np.random.default_rng(60 + seed), 8, ALL_KINDS)
    tree = tree_from_urdf(urdf_text(rows))
    model = tree.model
    assert model.joint_types == tree.kinds
    assert model.joint_nq == [SIZES[k][0] for k in tree.kinds] and model.joint_nv == tree.nv_of
    assert model.joint_q_idx == list(tree.q_idx) and model.joint_v_idx == list(tree.v_idx)
    # Axes as the document gives them, unnormalised; kinds without an axis store zeros.
    axis_of = {r["name"]: r["axis"] if r["kind"] not in ("fixed", "floating", "spherical") else np.zeros(3)
               for r in rows}
    np.testing.assert_array_equal(model.joint_axes, [np.zeros(3)] + [axis_of[n] for n in model.names[1:]])
    # Joint placements rebuild the neutral forward kinematics.
    data = Data(model)
    kavrel.forwardKinematics(model, data, kavrel.neutral(model))
    stacked = data.oMi_homogeneous
    assert stacked.shape == (model.njoints, 4, 4) and stacked.flags.c_contiguous
    np.testing.assert_array_equal(stacked, np.array([m.homogeneous for m in data.oMi]))
    for i, placement in enumerate(model.joint_placements[1:], 1):
        assert_close(stacked[i], stacked[model.parents[i]] @ placement.homogeneous, 1e-14, f"oMi[{i}]")
    # The frame table is the model report's.
    report = model.to_string_info()
    for f, (name, parent, kind) in enumerate(zip(model.frame_names, model.frame_parents, model.frame_types)):
        assert f"Frame {f}: {name} (type: FrameType({kind}), parent: {parent})" in report
    assert len(model.frame_placements) == model.nframes


def test_frame_type_names_and_operational_frames():
    model = kavrel.parse_urdf_from_string('<robot name="r"><link name="a"/><link name="b"/><joint name="j" '
                                          'type="continuous"><parent link="a"/><child link="b"/></joint></robot>')
    assert model.joint_types == ["fixed", "continuous"]  # frame types: see the URDF tests
    placement = SE3(rpy_matrix(0.1, 0.2, 0.3), np.array([0.0, 0.0, 0.1]))
    assert model.add_frame(name="tcp", parent_joint=1, placement=placement) == 4
    assert (model.nframes, model.getFrameId("tcp"), model.frame_parents[4], model.frame_types[4]) == (5, 4, 1, "OP_FRAME")
    np.testing.assert_array_equal(model.frame_placements[4].homogeneous, placement.homogeneous)
    with pytest.raises(ValueError, match=r"^Frame ID 5 out of range \(max: 4\)$"):
        kavrel.getFramePlacement(model, Data(model), 5)


@pytest.mark.parametrize("args,error,message", [
    (("t", 2, SE3.identity()), ValueError, "joint_id 2 >= njoints 2"),
    (("t", -1, SE3.identity()), OverflowError, None),
    ((3, 1, SE3.identity()), TypeError, "argument 'name': 'int' object cannot be converted to 'PyString'"),
    (("t", 1, np.eye(4)), TypeError, "argument 'placement': 'ndarray' object cannot be converted to 'SE3'"),
    (("t", 1), TypeError, "Model.add_frame() missing 1 required positional argument: 'placement'"),
])
def test_add_frame_refusals_change_nothing(args, error, message):
    (model := Model()).add_joint(0, "revolute", np.array([0.0, 0.0, 1.0]), SE3.identity(), "j")
    with pytest.raises(error) as raised:
        model.add_frame(*args)
    assert message is None or str(raised.value) == message
    assert model.nframes == 1 and model.frame_names == ["universe"]
