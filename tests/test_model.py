"""The model built joint by joint: sizes, offsets, names, gravity, bodies."""
import numpy as np
import pytest

from kavrel import SE3, Data, Model

Z = np.array([0.0, 0.0, 1.0])


def add(model, parent, kind, name, axis=Z):
    return model.add_joint(parent, kind, axis, SE3.identity(), name)


def test_new_model():
    model = Model()
    assert (model.njoints, model.nframes, model.nq, model.nv) == (1, 1, 0, 0)
    assert model.names == ["universe"] and model.parents == [0] and model.name == ""
    assert model.lowerPositionLimit.shape == (0,) and model.upperPositionLimit.shape == (0,)
    np.testing.assert_array_equal(model.gravity, [0.0, 0.0, -9.81])
    np.testing.assert_array_equal(model.gravity_angular, [0.0, 0.0, 0.0])
    np.testing.assert_array_equal(model.gravity_full, [0.0, 0.0, -9.81, 0.0, 0.0, 0.0])
    assert model.getFrameId("universe") == 0 and model.get_joint_id("universe") == 0
    assert repr(model) == "Model(name='', njoints=1, nframes=1, nq=0, nv=0)"


def test_add_joint_round_trip():
    model = Model()
    assert add(model, 0, "revolute", "j1") == 1
    assert (model.njoints, model.nq, model.nv) == (2, 1, 1)
    assert model.names == ["universe", "j1"]
    assert model.get_joint_id("j1") == 1
    assert model.get_joint_id("missing") is None and model.getFrameId("missing") is None
    assert model.getFrameId("j1") is None  # add_joint adds no frame


def test_floating_axis_is_not_checked():
    model = Model()
    assert model.add_joint(0, "floating", np.zeros(0), SE3.identity(), "base") == 1
    assert model.add_joint(1, "fixed", np.zeros(7), SE3.identity(), "weld") == 2
    assert (model.nq, model.nv) == (7, 6)


@pytest.mark.parametrize("parent,kind,axis,message", [
    (0, "Revolute", Z, "Unknown joint type: Revolute"),
    (0, "continuous", Z, "Unknown joint type: continuous"),
    (0, "planar", Z, "Unknown joint type: planar"),
    (0, "spherical", Z, "Unknown joint type: spherical"),
    (0, "", Z, "Unknown joint type: "),
    (0, "revolute", np.zeros(2), "Axis must be a 3D vector"),
    (0, "prismatic", np.zeros(4), "Axis must be a 3D vector"),
    (5, "revolute", Z, "parent 5 >= njoints 2"),
    (2, "fixed", Z, "parent 2 >= njoints 2"),
])
def test_add_joint_refusals_leave_model_unchanged(parent, kind, axis, message):
    model = Model()
    add(model, 0, "revolute", "j1")
    before = (model.njoints, model.nq, model.nv, model.names, model.parents, model.nframes)
    with pytest.raises(ValueError) as error:
        model.add_joint(parent, kind, axis, SE3.identity(), "bad")
    assert str(error.value) == message
    assert (model.njoints, model.nq, model.nv, model.names, model.parents, model.nframes) == before


def test_contiguity_is_checked_before_the_joint_type():
    with pytest.raises(TypeError, match="^The given array is not contiguous$"):
        Model().add_joint(0, "nonsense", np.zeros(6)[::2], SE3.identity(), "x")


def test_branched_tree_parents_and_duplicate_names():
    model = Model()
    add(model, 0, "revolute", "a")
    add(model, 1, "revolute", "b")
    add(model, 1, "revolute", "b")
    assert model.parents == [0, 0, 1, 1]
    assert model.get_joint_id("b") == 2  # the first match


@pytest.mark.parametrize("setter,getter,size,message", [
    ("set_gravity", "gravity", 3, "Gravity vector must have 3 elements [x, y, z]"),
    ("set_gravity_angular", "gravity_angular", 3, "Gravity angular vector must have 3 elements [wx, wy, wz]"),
    ("set_gravity_full", "gravity_full", 6, "Full gravity vector must have 6 elements [lx, ly, lz, wx, wy, wz]"),
])
def test_gravity_setters(setter, getter, size, message):
    model = Model()
    for wrong in (size - 1, size + 1, 0):
        with pytest.raises(ValueError) as error:
            getattr(model, setter)(np.ones(wrong))
        assert str(error.value) == message
    np.testing.assert_array_equal(model.gravity_full, [0.0, 0.0, -9.81, 0.0, 0.0, 0.0])
    value = np.arange(1.0, size + 1.0)
    getattr(model, setter)(value)
    np.testing.assert_array_equal(getattr(model, getter), value)


def test_gravity_parts_are_independent():
    model = Model()
    model.set_gravity_angular(np.array([0.1, 0.2, 0.3]))
    model.set_gravity(np.array([0.0, 0.0, -1.62]))
    np.testing.assert_array_equal(model.gravity_full, [0.0, 0.0, -1.62, 0.1, 0.2, 0.3])
    model.set_gravity_full(np.array([1.0, 2.0, 3.0, 4.0, 5.0, 6.0]))
    np.testing.assert_array_equal(model.gravity, [1.0, 2.0, 3.0])
    np.testing.assert_array_equal(model.gravity_angular, [4.0, 5.0, 6.0])


def test_properties_are_new_and_read_only():
    model = Model()
    g = model.gravity
    g[2] = 0.0
    assert model.gravity[2] == -9.81
    assert model.names is not model.names
    for name in ("nq", "nv", "njoints", "nframes", "names", "name", "gravity", "parents"):
        with pytest.raises(AttributeError):
            setattr(model, name, 1)


def test_set_name_and_repr():
    model = Model()
    model.set_name("arm")
    add(model, 0, "floating", "base")
    assert model.name == "arm"
    assert repr(model) == "Model(name='arm', njoints=2, nframes=1, nq=7, nv=6)"


def test_create_data_matches_constructor():
    model = Model()
    add(model, 0, "revolute", "a")
    data = model.createData()
    assert isinstance(data, Data) and repr(data) == repr(Data(model)) == "Data(njoints=2, nq=1, nv=1)"
    assert data is not model.createData()


def test_body_inertia_round_trip():
    model = Model()
    add(model, 0, "revolute", "a")
    assert model.get_body_inertia(1)[0] == 0.0  # bodies start massless
    rotational = np.array([[1.0, 0.1, 0.2], [0.1, 2.0, 0.3], [0.2, 0.3, 3.0]])
    model.set_body_inertia(1, 2.5, np.array([0.1, 0.2, 0.3]), np.asfortranarray(rotational))
    mass, lever, stored = model.get_body_inertia(1)
    assert mass == 2.5
    np.testing.assert_array_equal(lever, [0.1, 0.2, 0.3])
    np.testing.assert_array_equal(stored, rotational)
    stored[0, 0] = 9.0
    assert model.get_body_inertia(1)[2][0, 0] == 1.0


SYMMETRIC = np.eye(3)


@pytest.mark.parametrize("args,error,message", [
    ((2, 1.0, np.zeros(3), SYMMETRIC), ValueError, "joint_id 2 >= njoints 2"),
    ((1, 1.0, np.zeros(2), SYMMETRIC), ValueError, "lever must have 3 elements"),
    ((1, 1.0, np.zeros(3), np.eye(2)), ValueError, "rotational_inertia must be a 3x3 matrix"),
    ((1, -1.0, np.zeros(3), SYMMETRIC), ValueError, "mass must be non-negative"),
    ((1, float("nan"), np.zeros(3), SYMMETRIC), ValueError, "Body inertia values must be finite"),
    ((1, 1.0, np.array([0.0, np.inf, 0.0]), SYMMETRIC), ValueError, "Body inertia values must be finite"),
    ((1, 1.0, np.zeros(3), np.triu(np.ones((3, 3)))), ValueError, "rotational_inertia must be symmetric"),
    ((1, 1.0, np.zeros(3), np.eye(3) + 1e-9 * np.tri(3, k=-1)), ValueError, "rotational_inertia must be symmetric"),
    ((1, "1", np.zeros(3), SYMMETRIC), TypeError, "must be real number, not str"),
    ((1, 1.0, [0.0] * 3, SYMMETRIC), TypeError, "argument 'lever': 'list' object cannot be converted to 'PyArray<T, D>'"),
    ((1, 1.0, np.zeros(3), np.ones(9)), TypeError, "argument 'rotational_inertia': 'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    ((1, 1.0, np.zeros(6)[::2], SYMMETRIC), TypeError, "The given array is not contiguous"),
])
def test_body_inertia_refusals_change_nothing(args, error, message):
    model = Model()
    add(model, 0, "revolute", "a")
    with pytest.raises(error) as raised:
        model.set_body_inertia(*args)
    assert str(raised.value).endswith(message)
    assert model.get_body_inertia(1)[0] == 0.0
    with pytest.raises(ValueError, match="^joint_id 7 >= njoints 2$"):
        model.get_body_inertia(7)
