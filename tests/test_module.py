"""The calling frame shared by every function: binding, conversion, access, errors."""
import ctypes
import subprocess
import sys

import numpy as np
import pytest

import kavrel
from kavrel import SE3, Batch, Data, Model, ReferenceFrame
from kinematic_trees import X, Y, Z, changed, model_of, snapshot

CLASSES = ["SE3", "Model", "Data", "ReferenceFrame", "Batch"]
FUNCTIONS = [
    "neutral", "integrate", "forwardKinematics", "rnea", "crba", "computeJointJacobians", "computeJointJacobian",
    "computeJointJacobiansTimeVariation", "getFrameJacobian", "getFrameJacobianTimeVariation",
    "non_linear_effects", "compute_gravity", "computeAllTerms", "computeCoriolisMatrix",
    "parse_urdf_file", "parse_urdf_from_string", "getFramePlacement", "aba", "computeMinverse",
    "rnea_derivatives", "aba_derivatives",
]


def test_module_surface():
    assert kavrel.__file__.endswith("kavrel.abi3.so")
    assert kavrel.__version__ == "0.1.4"
    assert kavrel.__all__ == CLASSES + FUNCTIONS + ["__version__"]
    assert kavrel.__doc__ in ("", None)


# The first lines of the documented names' docstrings; the other public names have none. Their parameters: see the
# stub test, which compares the text signatures with the stub's.
DOCS = {
    "computeJointJacobian": "Compute the Jacobian of a specific joint expressed in the local frame of the joint",
    "computeJointJacobiansTimeVariation": "Compute the time variation of joint Jacobians (dJ/dt)",
    "computeAllTerms": "Compute all terms (forward kinematics, velocities, accelerations, etc.)",
    "computeCoriolisMatrix": "Compute the Coriolis matrix C(q, v) of the Lagrangian dynamics",
    "getFramePlacement": "World placement of a frame from the last forward kinematics",
    "aba": "Compute the joint accelerations of the forward dynamics (articulated-body algorithm)",
    "computeMinverse": "Compute the inverse of the joint-space mass matrix M(q)",
    "rnea_derivatives": "Compute the partial derivatives of the inverse dynamics (rnea) with respect to q and v",
    "aba_derivatives": "Compute the partial derivatives of the forward dynamics (aba) with respect to q, v and tau",
    "SE3.homogeneous": "Get homogeneous matrix as a property (alias for to_homogeneous)",
    "Model.with_floating_base": "A new model whose root body hangs from the universe on a floating joint.",
    "Model.print_info": "Print model information",
    "Model.to_string_info": "Get string representation of model information",
    "Data.print_info": "Print data structure information",
    "Data.to_string_info": "Get string representation of data structure information",
    "Data.M": "Get mass matrix M as a numpy array (nv x nv)\n\nReturns the full symmetric mass matrix. CRBA computes only "
              "the upper",
    "Data.C": "Get Coriolis matrix C as a numpy array (nv x nv)",
    "Data.g": "Get gravity vector g as a numpy array (nv)",
    "Data.a": "Joint accelerations, (njoints, 6) array, angular part first: with the gravity offset after rnea, the bias "
              "accelerations without it after computeAllTerms",
    "Data.oMi": "Get joint placements in world frame (oMi) as a list of SE3",
    "Data.get_joint_placement": "Get joint placement in world frame (oMi)",
}


@pytest.mark.parametrize("name", sorted({*FUNCTIONS, *CLASSES, "SE3.identity", "SE3.compose", *DOCS}))
def test_docstrings_and_text_signatures(name):
    obj = kavrel
    for part in name.split("."):
        obj = getattr(obj, part)
    if callable(obj) and obj is not ReferenceFrame:
        assert obj.__text_signature__.startswith("(")
    doc = DOCS.get(name)
    if doc is None:
        assert not obj.__doc__
    else:  # whole lines; a function's lists its arguments
        assert obj.__doc__ == doc or obj.__doc__.startswith(doc + "\n")
        assert "." in name or "# Arguments" in obj.__doc__
    if name == "computeCoriolisMatrix":
        assert "M(q) * ddq + C(q, dq) * dq + g(q) = tau" in obj.__doc__
        assert obj.__doc__.endswith("The Coriolis matrix C is stored in data.C")


def test_import_is_clean_under_warnings_as_errors():
    code = "import kavrel; assert kavrel.SE3.__module__ == 'kavrel' and kavrel.SE3.__name__ == 'SE3'"
    subprocess.run([sys.executable, "-W", "error", "-c", code], check=True)


def test_second_initialisation_fails():
    init = ctypes.PyDLL(kavrel.__file__).PyInit_kavrel
    init.restype = ctypes.py_object
    with pytest.raises(ImportError):
        init()


@pytest.mark.parametrize("cls,make,attribute", [
    (SE3, SE3.identity, "identity"), (Model, Model, "nq"), (Data, lambda: Data(Model()), "new_attribute"),
    (ReferenceFrame, ReferenceFrame, "WORLD"),
])
def test_classes_are_final_closed_and_immutable(cls, make, attribute):
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    instance, before = make(), cls.__dict__.get(attribute)
    with pytest.raises(AttributeError):
        instance.extra = 1
    assert not hasattr(instance, "__dict__")
    for change in (lambda: setattr(cls, attribute, 5), lambda: delattr(cls, attribute)):
        with pytest.raises(TypeError, match=f"attribute of immutable type 'kavrel.{cls.__name__}'$"):
            change()
    assert cls.__dict__.get(attribute) is before and Model().nq == 0


def test_keywords_in_any_order_are_accepted():  # objects with __index__: see the borrow test
    a = SE3(np.diag([1.0, -1.0, -1.0]), np.array([1.0, 2.0, 3.0]))
    b = SE3(translation=np.array([1.0, 2.0, 3.0]), rotation=np.diag([1.0, -1.0, -1.0]))
    np.testing.assert_array_equal(a.homogeneous, b.homogeneous)
    model = Model()
    assert model.add_joint(name="j", placement=SE3.identity(), axis=np.array([1.0, 0, 0]),
                           joint_type="prismatic", parent=0) == 1


class Objects:
    """What a refused call may touch: a floating base carrying a revolute and a prismatic joint (njoints 4,
    nq 9, nv 8) with one operational frame, a workspace that has seen a state, and arguments of the right sizes."""

    def __init__(self):
        self.m = model_of((0, "floating", Z, [0, 0, 0]), (1, "revolute", Y, [0, 0, 1]), (2, "prismatic", X, [1, 0, 0]))
        self.m.add_frame("tool", 3, SE3.identity())
        self.d, self.q, self.v = Data(self.m), np.ones(9), np.ones(8)
        kavrel.computeJointJacobiansTimeVariation(self.m, self.d, kavrel.neutral(self.m) + 0.1, self.v)
        self.rows = np.tile(kavrel.neutral(self.m), (4, 1))  # four states for a batch


class Reentrant:
    """An index whose conversion calls back into the library."""

    def __init__(self, action):
        self.action = action

    def __index__(self):
        self.action()
        return 0


def changed_later(change):
    """computeJointJacobian given a q that the conversion of its joint id changes."""
    def call(o):
        q = np.zeros(9)
        kavrel.computeJointJacobian(o.m, o.d, q, Reentrant(lambda: change(q)))
    return call


K = kavrel
ARRAY = "object cannot be converted to 'PyArray<T, D>'"
CHANGED = "The given array changed type or shape during the call"
NOT_CONTIGUOUS = "The given array is not contiguous"
NOT_FINITE = "Body inertia values must be finite"
SE3_SHAPES = "Rotation must be 3x3 matrix and translation must be 3D vector"
POINTS = "points must have shape (3,) or (N, 3)"
I3 = np.eye(3)
GRAVITY = [("set_gravity", 3, "Gravity vector must have 3 elements [x, y, z]"),
           ("set_gravity_angular", 3, "Gravity angular vector must have 3 elements [wx, wy, wz]"),
           ("set_gravity_full", 6, "Full gravity vector must have 6 elements [lx, ly, lz, wx, wy, wz]")]
CONVERTERS = [  # a call of one argument, its parameter and the type it converts to
    (lambda x: kavrel.neutral(x), "model", "Model"),
    (lambda x: Data(x), "model", "Model"),
    (lambda x: SE3.identity().compose(x), "other", "SE3"),
    (lambda x: Model().add_joint(0, "fixed", np.zeros(3), x, "a"), "placement", "SE3"),
    (lambda x: Model().add_joint(0, x, np.zeros(3), SE3.identity(), "a"), "joint_type", "PyString"),
    (lambda x: Model().set_name(x), "name", "PyString"),
    (lambda x: Model().get_joint_id(x), "name", "PyString"),
    (lambda x: kavrel.parse_urdf_from_string(x), "urdf_string", "PyString"),
    (lambda x: kavrel.parse_urdf_file(x), "filename", "PyString"),
]

VECTORS = {"computeJointJacobians": "q", "computeJointJacobiansTimeVariation": "q v", "rnea": "q v a", "crba": "q",
           "non_linear_effects": "q v", "compute_gravity": "q", "computeCoriolisMatrix": "q v", "computeAllTerms": "q v",
           "aba": "q v tau", "computeMinverse": "q", "rnea_derivatives": "q v a", "aba_derivatives": "q v tau"}


def sized(name, k, d):
    """name(model, data, ...) with vector k one too short (d = -1) or too long (d = 1) and every later one empty,
    so that only checks in argument order name vector k."""
    arguments = VECTORS[name].split()
    expected = [9 if a == "q" else 8 for a in arguments]
    vectors = [np.ones(n) for n in expected[:k]] + [np.ones(expected[k] + d)] + [np.zeros(0)] * (len(arguments) - k - 1)
    message = f"{arguments[k]} length {expected[k] + d} != n{'q' if k == 0 else 'v'} {expected[k]}"
    return lambda o: getattr(K, name)(o.m, o.d, *vectors), ValueError, message


# Every refusal of bad arguments: (call on fresh Objects, exception type, exact message or None).
REFUSALS = [
    # binding
    (lambda o: o.m.set_gravity(), TypeError, "Model.set_gravity() missing 1 required positional argument: 'gravity'"),
    (lambda o: o.m.add_joint(0, "fixed"), TypeError,
     "Model.add_joint() missing 3 required positional arguments: 'axis', 'placement', and 'name'"),
    (lambda o: o.m.set_body_inertia(0, 1.0), TypeError, "Model.set_body_inertia() missing 2 required positional "
     "arguments: 'lever' and 'rotational_inertia'"),
    (lambda o: o.m.set_gravity(o.v, o.v), TypeError, "Model.set_gravity() takes 1 positional arguments but 2 were given"),
    (lambda o: o.m.createData(1), TypeError, "Model.createData() takes 0 positional arguments but 1 was given"),
    (lambda o: SE3.identity(1), TypeError, "SE3.identity() takes 0 positional arguments but 1 was given"),
    (lambda o: SE3(I3), TypeError, "SE3.__new__() missing 1 required positional argument: 'translation'"),
    (lambda o: SE3(I3, o.v, o.v), TypeError, "SE3.__new__() takes 2 positional arguments but 3 were given"),
    (lambda o: Model(1), TypeError, "Model.__new__() takes 0 positional arguments but 1 was given"),
    (lambda o: ReferenceFrame(code=1), TypeError, "ReferenceFrame.__new__() got an unexpected keyword argument 'code'"),
    (lambda o: o.m.set_gravity(o.v, gravity=o.v), TypeError,
     "Model.set_gravity() got multiple values for argument 'gravity'"),
    (lambda o: o.m.set_gravity(gravity=o.v, other=o.v), TypeError,
     "Model.set_gravity() got an unexpected keyword argument 'other'"),
    (lambda o: SE3(translation=o.v), TypeError, "SE3.__new__() missing 1 required positional argument: 'rotation'"),
    (lambda o: kavrel.neutral(), TypeError, "neutral() missing 1 required positional argument: 'model'"),
    (lambda o: o.m.with_floating_base("a", "b"), TypeError,
     "Model.with_floating_base() takes 1 positional arguments but 2 were given"),
    # conversion of arrays, objects and integers; the first failing parameter is reported
    *((lambda o, x=x: o.m.set_gravity(x), TypeError, f"argument 'gravity': '{type(x).__qualname__}' {ARRAY}") for x in (
        [0.0, 0.0, -1.0], (0.0, 0.0, -1.0), 1.5, None, np.zeros(3, dtype=np.int64), np.zeros(3, dtype=np.float32),
        np.zeros(3, dtype=np.complex128), np.zeros(3, dtype=object), np.zeros(3, dtype=">f8"), np.array(1.0),
        np.zeros((1, 3)))),
    *((lambda o, x=x: SE3(x, np.zeros(3)), TypeError, f"argument 'rotation': '{type(x).__qualname__}' {ARRAY}") for x in (
        np.eye(3).ravel(), np.zeros((3, 3, 1)), [[1.0] * 3] * 3, np.eye(3, dtype=np.float32), np.eye(3, dtype=">f8"))),
    (lambda o: o.m.set_body_inertia(1, 1.0, np.zeros(3), np.ones(9)), TypeError,
     f"argument 'rotational_inertia': 'ndarray' {ARRAY}"),
    (lambda o: SE3.identity().act(np.zeros((1, 2, 3))), TypeError, f"argument 'points': 'ndarray' {ARRAY}"),
    (lambda o: Batch(o.m, 2).crba(o.rows[0]), TypeError, f"argument 'q': 'ndarray' {ARRAY}"),
    *((lambda o, c=c, x=x: c(x), TypeError, f"argument '{p}': '{type(x).__qualname__}' object cannot be converted "
       f"to '{t}'") for c, p, t in CONVERTERS for x in (Data(Model()), 3, b"bytes")),
    *((lambda o, x=x: o.m.with_floating_base(x), TypeError, f"argument 'name': '{type(x).__name__}' object cannot be "
       "converted to 'PyString'") for x in (3, None)),
    (lambda o: o.m.set_body_inertia(1, "1", np.zeros(3), I3), TypeError, "argument 'mass': must be real number, not str"),
    (lambda o: o.d.get_joint_placement(-1), OverflowError, None),
    (lambda o: o.d.get_joint_placement(2**64), OverflowError, None),
    *((lambda o, x=x: o.d.get_joint_placement(x), TypeError,
       f"argument 'joint_id': '{type(x).__name__}' object cannot be interpreted as an integer") for x in (1.0, "0", None)),
    (lambda o: o.m.add_joint("0", 1, [1], 2, 3), TypeError,
     "argument 'parent': 'str' object cannot be interpreted as an integer"),
    (lambda o: o.m.add_joint(0, "fixed", [1], 2, 3), TypeError, f"argument 'axis': 'list' {ARRAY}"),
    # conversions all come before the contiguity check, and that before the joint type
    (lambda o: o.m.add_joint(0, "fixed", np.zeros(6)[::2], SE3.identity(), 3), TypeError,
     "argument 'name': 'int' object cannot be converted to 'PyString'"),
    (lambda o: o.m.add_joint(0, "nonsense", np.zeros(6)[::2], SE3.identity(), "x"), TypeError, NOT_CONTIGUOUS),
    (lambda o: o.m.set_gravity(np.zeros(6)[::2]), TypeError, NOT_CONTIGUOUS),
    (lambda o: Batch(o.m, 2).crba(np.asfortranarray(o.rows)), TypeError, NOT_CONTIGUOUS),
    (changed_later(lambda q: setattr(q, "dtype", np.int8)), TypeError, CHANGED),
    (changed_later(lambda q: q.resize((3, 3), refcheck=False)), TypeError, CHANGED),
    (changed_later(lambda q: q.resize(10_000, refcheck=False)), ValueError, "q length 10000 != nq 9"),
    # building a model
    *((lambda o, k=k: o.m.add_joint(0, k, Z, SE3.identity(), "bad"), ValueError, "Unknown joint type: " + k)
      for k in ("Revolute", "continuous", "planar", "spherical", "")),
    (lambda o: o.m.add_joint(0, "revolute", np.zeros(2), SE3.identity(), "bad"), ValueError, "Axis must be a 3D vector"),
    (lambda o: o.m.add_joint(0, "prismatic", np.zeros(4), SE3.identity(), "bad"), ValueError, "Axis must be a 3D vector"),
    (lambda o: o.m.add_joint(4, "fixed", Z, SE3.identity(), "bad"), ValueError, "parent 4 >= njoints 4"),
    (lambda o: o.m.add_frame("t", 4, SE3.identity()), ValueError, "joint_id 4 >= njoints 4"),
    *((lambda o, s=s, n=n: getattr(o.m, s)(np.ones(n)), ValueError, message)
      for s, size, message in GRAVITY for n in (size - 1, size + 1, 0)),
    (lambda o: o.m.set_body_inertia(4, 1.0, np.zeros(3), I3), ValueError, "joint_id 4 >= njoints 4"),
    (lambda o: o.m.get_body_inertia(7), ValueError, "joint_id 7 >= njoints 4"),
    (lambda o: o.m.set_body_inertia(1, 1.0, np.zeros(2), I3), ValueError, "lever must have 3 elements"),
    (lambda o: o.m.set_body_inertia(1, 1.0, np.zeros(3), np.eye(2)), ValueError,
     "rotational_inertia must be a 3x3 matrix"),
    (lambda o: o.m.set_body_inertia(1, -1.0, np.zeros(3), I3), ValueError, "mass must be non-negative"),
    (lambda o: o.m.set_body_inertia(1, float("nan"), np.zeros(3), I3), ValueError, NOT_FINITE),
    (lambda o: o.m.set_body_inertia(1, 1.0, np.array([0.0, np.inf, 0.0]), I3), ValueError, NOT_FINITE),
    (lambda o: o.m.set_body_inertia(1, 1.0, np.zeros(3), np.triu(np.ones((3, 3)))), ValueError,
     "rotational_inertia must be symmetric"),
    (lambda o: o.m.set_body_inertia(1, 1.0, np.zeros(3), I3 + 1e-9 * np.tri(3, k=-1)), ValueError,
     "rotational_inertia must be symmetric"),
    # sizes of states, joints and frames; q is checked first, then v, then the third vector or the index
    *((lambda o, n=n: K.forwardKinematics(o.m, o.d, np.ones(n)), ValueError,
       f"Configuration vector length {n} does not match model nq 9") for n in (8, 10)),
    *(sized(name, k, d) for name in VECTORS for k in range(len(VECTORS[name].split())) for d in (-1, 1)),
    (lambda o: K.computeJointJacobian(o.m, o.d, np.ones(10), 9), ValueError, "q length 10 != nq 9"),
    (lambda o: K.computeJointJacobian(o.m, o.d, o.q, 4), ValueError, "joint_id 4 >= njoints 4"),
    *((lambda o, f=f: f(o.m, o.d, 2, ReferenceFrame.LOCAL), ValueError, "Frame ID 2 out of range (max: 1)")
      for f in (K.getFrameJacobian, K.getFrameJacobianTimeVariation)),
    (lambda o: K.getFramePlacement(o.m, o.d, 5), ValueError, "Frame ID 5 out of range (max: 1)"),
    (lambda o: K.integrate(o.m, np.ones(10), np.ones(7)), ValueError,
     "Configuration vector size mismatch: expected 9, got 10"),
    (lambda o: K.integrate(o.m, o.q, np.ones(7)), ValueError, "Velocity vector size mismatch: expected 8, got 7"),
    (lambda o: K.integrate(o.m, o.q, o.q), ValueError, "Velocity vector size mismatch: expected 8, got 9"),
    (lambda o: o.d.get_joint_placement(4), IndexError, "Joint ID 4 out of range (max: 3)"),
    (lambda o: o.d.get_joint_translation(4), IndexError, "Joint ID 4 out of range (max: 3)"),
    # transforms
    *((lambda o, r=r, t=t: SE3(r, t), ValueError, SE3_SHAPES) for r, t in [
        (I3, np.zeros(4)), (I3, np.zeros(2)), (np.zeros((3, 4)), np.zeros(3)), (np.zeros((2, 3)), np.zeros(3))]),
    (lambda o: SE3.identity().act(np.zeros(4)), ValueError, POINTS),
    (lambda o: SE3.identity().act(np.zeros((2, 4))), ValueError, POINTS),
    (lambda o: SE3.exp(np.zeros(5)), ValueError, "twist must have 6 elements [vx, vy, vz, wx, wy, wz]"),
    (lambda o: SE3.identity() * 2, TypeError, "unsupported operand type(s) for *: 'kavrel.SE3' and 'int'"),
    (lambda o: np.eye(4) * SE3.identity(), TypeError, None),
    # batches
    *((lambda o, n=n: Batch(o.m, n), ValueError, f"threads must be {message}")
      for n, message in ((0, "at least 1, got 0"), (-2, "at least 1, got -2"), (10**6, "at most 1024, got 1000000"))),
    (lambda o: Batch(o.m, 2).rnea(o.rows, np.zeros((3, 8)), np.zeros((4, 8))), ValueError,
     "v has shape (3, 8), expected (4, 8)"),
    (lambda o: Batch(o.m, 2).rnea(o.rows, np.zeros((4, 8)), np.zeros((4, 2))), ValueError,
     "a has shape (4, 2), expected (4, 8)"),
    (lambda o: Batch(o.m, 2).integrate(o.rows[:, 1:].copy(), np.zeros((4, 8))), ValueError,
     "q has shape (4, 8), expected (4, 9)"),
    (lambda o: Batch(o.m, 2).aba(o.rows, np.zeros((4, 8)), np.zeros((5, 3))), ValueError,
     "tau has shape (5, 3), expected (4, 8)"),
    (lambda o: Batch(o.m, 2).getFrameJacobian(o.rows, 99, ReferenceFrame.LOCAL), ValueError,
     "Frame ID 99 out of range (max: 1)"),
    (lambda o: Batch(o.m, 2).getFramePlacement(o.rows, 2), ValueError, "Frame ID 2 out of range (max: 1)"),
    # restoring a workspace: no joint 0, too many coordinates, too many velocities, more velocities than coordinates
    *((lambda o, s=s: o.d.__setstate__(s), ValueError, f"Data state {s} is not the shape of a model")
      for s in [(0, 0, 0), (1, 1, 0), (2, 7, 7), (2, 3, 4)]),
    *((lambda o, s=s: o.d.__setstate__(s), TypeError,
       f"argument 'state': '{type(s).__name__}' object cannot be converted to 'tuple of 3'") for s in [(2, 7), [2, 7, 6]]),
    (lambda o: o.d.__setstate__((2, 7, -1)), OverflowError, None),
]


@pytest.mark.parametrize("call,error,message", REFUSALS, ids=[m or e.__name__ for _, e, m in REFUSALS])
def test_refusals_change_nothing(call, error, message):
    o = Objects()
    model, data = o.m.__reduce__()[2], snapshot(o.d)
    with pytest.raises(error) as raised:
        call(o)
    assert type(raised.value) is error
    if message is not None:
        assert str(raised.value) == message
    if message and message.startswith("argument '"):  # the conversion's own error is kept as the cause
        assert type(raised.value.__cause__) is error and str(raised.value.__cause__) == message.split(": ", 1)[1]
    assert o.m.__reduce__()[2] == model and not changed(data, snapshot(o.d))


def test_borrows_block_conflicting_access_and_are_released():
    data = Data(model := model_of((0, "revolute", Z, [0, 0, 0])))
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        model.add_joint(Reentrant(lambda: model.nq), "fixed", np.zeros(3), SE3.identity(), "x")
    assert model.njoints == 2 and model.add_joint(0, "fixed", np.zeros(3), SE3.identity(), "x") == 2
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        data.get_joint_placement(Reentrant(data.reset))
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        Model.get_body_inertia(model, Reentrant(lambda: model.set_name("x")))
    data.reset()
    assert isinstance(data.get_joint_placement(Reentrant(lambda: data.M)), SE3)
