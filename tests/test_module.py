"""The calling frame shared by every function: binding, conversion, access, errors."""
import ctypes
import subprocess
import sys

import numpy as np
import pytest

import kavrel
from kavrel import SE3, Data, Model, ReferenceFrame

CLASSES = ["SE3", "Model", "Data", "ReferenceFrame", "Batch"]
FUNCTIONS = [
    "neutral", "integrate", "forwardKinematics", "rnea", "crba", "computeJointJacobians", "computeJointJacobian",
    "computeJointJacobiansTimeVariation", "getFrameJacobian", "getFrameJacobianTimeVariation",
    "non_linear_effects", "compute_gravity", "computeAllTerms", "computeCoriolisMatrix",
    "parse_urdf_file", "parse_urdf_from_string", "getFramePlacement", "aba", "computeMinverse",
    "rnea_derivatives", "aba_derivatives",
]


def one_joint_model():
    model = Model()
    model.add_joint(0, "revolute", np.array([0.0, 0.0, 1.0]), SE3.identity(), "j1")
    return model


def test_module_surface():
    assert kavrel.__file__.endswith("kavrel.abi3.so")
    assert kavrel.__version__ == "0.1.4"
    assert kavrel.__all__ == CLASSES + FUNCTIONS + ["__version__"]
    assert kavrel.__doc__ in ("", None)


# Text signatures of every function, and the first line of the documented ones.
@pytest.mark.parametrize("name,signature,summary", [
    ("neutral", "(model)", None),
    ("integrate", "(model, q, v)", None),
    ("forwardKinematics", "(model, data, q)", None),
    ("rnea", "(model, data, q, v, a)", None),
    ("crba", "(model, data, q)", None),
    ("computeJointJacobians", "(model, data, q)", None),
    ("computeJointJacobian", "(model, data, q, joint_id)",
     "Compute the Jacobian of a specific joint expressed in the local frame of the joint"),
    ("computeJointJacobiansTimeVariation", "(model, data, q, v)", "Compute the time variation of joint Jacobians (dJ/dt)"),
    ("getFrameJacobian", "(model, data, frame_id, reference_frame)", None),
    ("getFrameJacobianTimeVariation", "(model, data, frame_id, reference_frame)", None),
    ("non_linear_effects", "(model, data, q, v)", None),
    ("compute_gravity", "(model, data, q)", None),
    ("computeAllTerms", "(model, data, q, v)", "Compute all terms (forward kinematics, velocities, accelerations, etc.)"),
    ("computeCoriolisMatrix", "(model, data, q, v)", "Compute the Coriolis matrix C(q, v) of the Lagrangian dynamics"),
    ("parse_urdf_file", "(filename)", None),
    ("parse_urdf_from_string", "(urdf_string)", None),
    ("getFramePlacement", "(model, data, frame_id)", "World placement of a frame from the last forward kinematics"),
    ("aba", "(model, data, q, v, tau)", "Compute the joint accelerations of the forward dynamics (articulated-body algorithm)"),
    ("computeMinverse", "(model, data, q)", "Compute the inverse of the joint-space mass matrix M(q)"),
    ("rnea_derivatives", "(model, data, q, v, a)",
     "Compute the partial derivatives of the inverse dynamics (rnea) with respect to q and v"),
    ("aba_derivatives", "(model, data, q, v, tau)",
     "Compute the partial derivatives of the forward dynamics (aba) with respect to q, v and tau"),
])
def test_function_signatures_and_docstrings(name, signature, summary):
    function = getattr(kavrel, name)
    assert function.__text_signature__ == signature
    if summary is None:
        assert not function.__doc__
    else:
        doc = function.__doc__
        assert doc.split("\n")[0] == summary and "# Arguments" in doc
    if name == "computeCoriolisMatrix":
        assert "M(q) * ddq + C(q, dq) * dq + g(q) = tau" in doc and doc.endswith("The Coriolis matrix C is stored in data.C")


def test_import_is_clean_under_warnings_as_errors():
    code = "import kavrel; assert kavrel.SE3.__module__ == 'kavrel' and kavrel.SE3.__name__ == 'SE3'"
    subprocess.run([sys.executable, "-W", "error", "-c", code], check=True)


def test_second_initialisation_fails():
    init = ctypes.PyDLL(kavrel.__file__).PyInit_kavrel
    init.restype = ctypes.py_object
    with pytest.raises(ImportError):
        init()


@pytest.mark.parametrize("cls,signature", [
    (SE3, "(rotation, translation)"), (Model, "()"), (Data, "(model)"),
])
def test_class_signatures(cls, signature):
    assert cls.__text_signature__ == signature


@pytest.mark.parametrize("cls", [SE3, Model, Data, ReferenceFrame])
def test_classes_are_final_and_closed(cls):
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    instance = {SE3: SE3.identity, Model: Model, Data: lambda: Data(Model()), ReferenceFrame: ReferenceFrame}[cls]()
    with pytest.raises(AttributeError):
        instance.extra = 1
    assert not hasattr(instance, "__dict__")


@pytest.mark.parametrize("cls,attribute", [
    (Model, "nq"), (ReferenceFrame, "WORLD"), (SE3, "identity"), (Data, "new_attribute"),
])
def test_classes_are_immutable(cls, attribute):
    before = cls.__dict__.get(attribute)
    for change in (lambda: setattr(cls, attribute, 5), lambda: delattr(cls, attribute)):
        with pytest.raises(TypeError, match=f"attribute of immutable type 'kavrel.{cls.__name__}'$"):
            change()
    assert cls.__dict__.get(attribute) is before and Model().nq == 0


@pytest.mark.parametrize("call,message", [
    (lambda m, x: m.set_gravity(), "Model.set_gravity() missing 1 required positional argument: 'gravity'"),
    (lambda m, x: m.add_joint(0, "fixed"),
     "Model.add_joint() missing 3 required positional arguments: 'axis', 'placement', and 'name'"),
    (lambda m, x: m.set_body_inertia(0, 1.0), "Model.set_body_inertia() missing 2 required positional arguments: "
     "'lever' and 'rotational_inertia'"),
    (lambda m, x: m.set_gravity(x, x), "Model.set_gravity() takes 1 positional arguments but 2 were given"),
    (lambda m, x: m.createData(1), "Model.createData() takes 0 positional arguments but 1 was given"),
    (lambda m, x: SE3.identity(1), "SE3.identity() takes 0 positional arguments but 1 was given"),
    (lambda m, x: SE3(np.eye(3)), "SE3.__new__() missing 1 required positional argument: 'translation'"),
    (lambda m, x: SE3(np.eye(3), x, x), "SE3.__new__() takes 2 positional arguments but 3 were given"),
    (lambda m, x: Model(1), "Model.__new__() takes 0 positional arguments but 1 was given"),
    (lambda m, x: ReferenceFrame(code=1), "ReferenceFrame.__new__() got an unexpected keyword argument 'code'"),
    (lambda m, x: m.set_gravity(x, gravity=x), "Model.set_gravity() got multiple values for argument 'gravity'"),
    (lambda m, x: m.set_gravity(gravity=x, other=x), "Model.set_gravity() got an unexpected keyword argument 'other'"),
    (lambda m, x: SE3(np.eye(3), x, rotation=np.eye(3)), "SE3.__new__() got multiple values for argument 'rotation'"),
    (lambda m, x: SE3(translation=x), "SE3.__new__() missing 1 required positional argument: 'rotation'"),
    (lambda m, x: kavrel.neutral(), "neutral() missing 1 required positional argument: 'model'"),
    (lambda m, x: kavrel.integrate(m, x, model=m), "integrate() got multiple values for argument 'model'"),
])
def test_argument_binding_messages(call, message):
    with pytest.raises(TypeError) as error:
        call(Model(), np.zeros(3))
    assert str(error.value) == message


def test_keywords_in_any_order_equal_positional():
    a = SE3(np.diag([1.0, -1.0, -1.0]), np.array([1.0, 2.0, 3.0]))
    b = SE3(translation=np.array([1.0, 2.0, 3.0]), rotation=np.diag([1.0, -1.0, -1.0]))
    np.testing.assert_array_equal(a.homogeneous, b.homogeneous)
    model = Model()
    assert model.add_joint(name="j", placement=SE3.identity(), axis=np.array([1.0, 0, 0]),
                           joint_type="prismatic", parent=0) == 1


ARRAY_CASES = [
    ([0.0, 0.0, -1.0], "'list' object cannot be converted to 'PyArray<T, D>'"),
    ((0.0, 0.0, -1.0), "'tuple' object cannot be converted to 'PyArray<T, D>'"),
    (1.5, "'float' object cannot be converted to 'PyArray<T, D>'"),
    (None, "'NoneType' object cannot be converted to 'PyArray<T, D>'"),
    (np.zeros(3, dtype=np.int64), "'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    (np.zeros(3, dtype=np.float32), "'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    (np.zeros(3, dtype=np.complex128), "'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    (np.zeros(3, dtype=object), "'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    (np.zeros(3, dtype=">f8"), "'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    (np.array(1.0), "'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    (np.zeros((1, 3)), "'ndarray' object cannot be converted to 'PyArray<T, D>'"),
]


@pytest.mark.parametrize("value,message", ARRAY_CASES)
def test_one_dimensional_array_conversion(value, message):
    model = Model()
    before = model.gravity
    with pytest.raises(TypeError) as error:
        model.set_gravity(value)
    assert str(error.value) == "argument 'gravity': " + message
    assert isinstance(error.value.__cause__, TypeError)
    assert str(error.value.__cause__) == message
    np.testing.assert_array_equal(model.gravity, before)


@pytest.mark.parametrize("value", [np.eye(3).ravel(), np.zeros((3, 3, 1)), [[1.0] * 3] * 3,
                                   np.eye(3, dtype=np.float32), np.eye(3, dtype=">f8")])
def test_two_dimensional_array_conversion(value):
    with pytest.raises(TypeError) as error:
        SE3(value, np.zeros(3))
    assert str(error.value) == (f"argument 'rotation': '{type(value).__qualname__}' object cannot be "
                                "converted to 'PyArray<T, D>'")


@pytest.mark.parametrize("call,parameter,expected", [
    (lambda x: kavrel.neutral(x), "model", "Model"),
    (lambda x: Data(x), "model", "Model"),
    (lambda x: SE3.identity().compose(x), "other", "SE3"),
    (lambda x: Model().add_joint(0, "fixed", np.zeros(3), x, "a"), "placement", "SE3"),
    (lambda x: Model().add_joint(0, x, np.zeros(3), SE3.identity(), "a"), "joint_type", "PyString"),
    (lambda x: Model().set_name(x), "name", "PyString"),
    (lambda x: Model().get_joint_id(x), "name", "PyString"),
    (lambda x: kavrel.parse_urdf_from_string(x), "urdf_string", "PyString"),
    (lambda x: kavrel.parse_urdf_file(x), "filename", "PyString"),
])
@pytest.mark.parametrize("wrong", [Data(Model()), 3, b"bytes"])
def test_object_conversion_messages(call, parameter, expected, wrong):
    with pytest.raises(TypeError) as error:
        call(wrong)
    assert str(error.value) == (f"argument '{parameter}': '{type(wrong).__qualname__}' object cannot be "
                                f"converted to '{expected}'")


@pytest.mark.parametrize("value,error_type,message", [
    (-1, OverflowError, None),
    (1.0, TypeError, "argument 'joint_id': 'float' object cannot be interpreted as an integer"),
    ("0", TypeError, "argument 'joint_id': 'str' object cannot be interpreted as an integer"),
    (None, TypeError, "argument 'joint_id': 'NoneType' object cannot be interpreted as an integer"),
    (2**64, OverflowError, None),
])
def test_integer_conversion(value, error_type, message):
    data = Data(one_joint_model())
    with pytest.raises(error_type) as error:
        data.get_joint_placement(value)
    assert type(error.value) is error_type
    if message is not None:
        assert str(error.value) == message


def test_index_protocol_objects_are_accepted():
    data = Data(one_joint_model())
    assert isinstance(data.get_joint_placement(np.int64(1)), SE3)
    assert isinstance(data.get_joint_placement(True), SE3)


class Reentrant:
    """An index whose conversion calls back into the library."""

    def __init__(self, action):
        self.action = action

    def __index__(self):
        self.action()
        return 0


def test_exclusive_access_blocks_readers_and_is_released():
    model = one_joint_model()
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        model.add_joint(Reentrant(lambda: model.nq), "fixed", np.zeros(3), SE3.identity(), "x")
    assert model.njoints == 2
    assert model.add_joint(0, "fixed", np.zeros(3), SE3.identity(), "x") == 2


def test_shared_access_blocks_writers_and_is_released():
    data = Data(one_joint_model())
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        data.get_joint_placement(Reentrant(data.reset))
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        Model.get_body_inertia(one := one_joint_model(), Reentrant(lambda: one.set_name("x")))
    data.reset()
    assert isinstance(data.get_joint_placement(Reentrant(lambda: data.M)), SE3)


CHANGED = "The given array changed type or shape during the call"


@pytest.mark.parametrize("change,error,message", [
    (lambda q: setattr(q, "dtype", np.int8), TypeError, CHANGED),
    (lambda q: q.resize((2, 2), refcheck=False), TypeError, CHANGED),
    (lambda q: q.resize(10_000, refcheck=False), ValueError, "q length 10000 != nq 1"),
])
def test_arrays_changed_by_a_later_conversion_are_read_safely(change, error, message):
    model = one_joint_model()
    q = np.zeros(1)
    with pytest.raises(error) as raised:
        kavrel.computeJointJacobian(model, Data(model), q, Reentrant(lambda: change(q)))
    assert str(raised.value) == message


def test_contiguity_and_read_only_arrays():
    model = Model()
    strided = np.zeros(6)[::2]
    with pytest.raises(TypeError) as error:
        model.set_gravity(strided)
    assert str(error.value) == "The given array is not contiguous"
    frozen = np.array([0.0, 0.0, -1.62])
    frozen.setflags(write=False)
    model.set_gravity(frozen)
    np.testing.assert_array_equal(model.gravity, [0.0, 0.0, -1.62])
    np.testing.assert_array_equal(frozen, [0.0, 0.0, -1.62])


def test_conversion_stops_at_first_failing_parameter():
    model = Model()
    with pytest.raises(TypeError, match="^argument 'parent'"):
        model.add_joint("0", 1, [1], 2, 3)
    with pytest.raises(TypeError, match="^argument 'axis'"):
        model.add_joint(0, "fixed", [1], 2, 3)
    # Conversions all come before the contiguity check.
    with pytest.raises(TypeError, match="^argument 'name'"):
        model.add_joint(0, "fixed", np.zeros(6)[::2], SE3.identity(), 3)
    assert model.njoints == 1
