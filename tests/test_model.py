"""The model built joint by joint: sizes, offsets, names, gravity, bodies."""
import numpy as np
import pytest

from kavrel import SE3, Data, Model

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
