"""Rigid transforms and reference-frame codes."""
import math
import resource

import numpy as np
import pytest

from kavrel import SE3, Model, ReferenceFrame


def rotation_z(angle):
    c, s = math.cos(angle), math.sin(angle)
    return np.array([[c, -s, 0.0], [s, c, 0.0], [0.0, 0.0, 1.0]])


def random_transform(rng):
    q, _ = np.linalg.qr(rng.normal(size=(3, 3)))
    return SE3(q, rng.normal(size=3))


def test_identity_and_homogeneous_form():
    h = SE3.identity().to_homogeneous()
    np.testing.assert_array_equal(h, np.eye(4))
    assert h.dtype == np.float64 and h.flags.c_contiguous
    np.testing.assert_array_equal(SE3(np.eye(3), np.zeros(3)).homogeneous, np.eye(4))


@pytest.mark.parametrize("make_rotation", [
    lambda r: np.asfortranarray(r),
    lambda r: r.T.copy().T,
    lambda r: np.ascontiguousarray(np.pad(r, ((0, 0), (0, 3)))[:, :3]),
    lambda r: np.repeat(np.repeat(r, 2, axis=0), 2, axis=1)[::2, ::2],
])
def test_rotation_read_through_strides(make_rotation):
    r = np.arange(9.0).reshape(3, 3)
    h = SE3(make_rotation(r), np.array([1.0, 2.0, 3.0])).homogeneous
    np.testing.assert_array_equal(h[:3, :3], r)
    np.testing.assert_array_equal(h[:3, 3], [1.0, 2.0, 3.0])
    np.testing.assert_array_equal(h[3], [0, 0, 0, 1])


@pytest.mark.parametrize("rotation,translation", [
    (np.eye(3), np.zeros(4)),
    (np.eye(3), np.zeros(2)),
    (np.zeros((3, 4)), np.zeros(3)),
    (np.zeros((2, 3)), np.zeros(3)),
    (np.zeros((0, 0)), np.zeros(0)),
])
def test_constructor_shapes(rotation, translation):
    with pytest.raises(ValueError) as error:
        SE3(rotation, translation)
    assert str(error.value) == "Rotation must be 3x3 matrix and translation must be 3D vector"


def one_body():
    model = Model()
    model.add_joint(0, "revolute", np.array([0.0, 0.0, 1.0]), SE3.identity(), "j")
    return model


@pytest.mark.parametrize("call,message", [
    (lambda big: SE3(big, np.zeros(3)), "Rotation must be 3x3 matrix and translation must be 3D vector"),
    (lambda big: one_body().set_body_inertia(1, 1.0, np.zeros(3), big), "rotational_inertia must be a 3x3 matrix"),
])
def test_wrong_shape_is_refused_before_its_elements_are_read(call, message):
    # 3.2 GB if copied: under an address-space limit a copy would raise MemoryError instead.
    big = np.broadcast_to(np.zeros(1), (20000, 20000))
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    with open("/proc/self/statm") as f:
        mapped = int(f.read().split()[0]) * resource.getpagesize()
    limit = mapped + (1 << 30) if hard == resource.RLIM_INFINITY else min(hard, mapped + (1 << 30))
    resource.setrlimit(resource.RLIMIT_AS, (limit, hard))
    try:
        with pytest.raises(ValueError) as error:
            call(big)
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    assert str(error.value) == message


def test_constructor_copies_and_never_writes_inputs():
    r, p = rotation_z(0.3), np.array([1.0, 2.0, 3.0])
    r.setflags(write=False)
    x = SE3(r, p)
    p[0] = 99.0
    assert x.homogeneous[0, 3] == 1.0


def test_compose_and_inverse_identities():
    rng = np.random.default_rng(1)
    for _ in range(20):
        a, b = random_transform(rng), random_transform(rng)
        np.testing.assert_array_equal(SE3.identity().compose(a).homogeneous, a.homogeneous)
        np.testing.assert_array_equal(a.compose(SE3.identity()).homogeneous, a.homogeneous)
        np.testing.assert_allclose(a.compose(b).homogeneous, a.homogeneous @ b.homogeneous, atol=1e-14)
        np.testing.assert_allclose(a.compose(a.inverse()).homogeneous, np.eye(4), atol=1e-14)
        np.testing.assert_allclose(a.inverse().homogeneous, np.linalg.inv(a.homogeneous), atol=1e-13)


def test_compose_with_itself_and_operands_unchanged():
    a = SE3(rotation_z(0.5), np.array([1.0, 0.0, 0.0]))
    before = a.homogeneous
    aa = a.compose(a)
    np.testing.assert_allclose(aa.homogeneous[:3, :3], rotation_z(1.0), atol=1e-15)
    np.testing.assert_allclose(aa.homogeneous[:3, 3], [1.0 + math.cos(0.5), math.sin(0.5), 0.0])
    np.testing.assert_array_equal(a.homogeneous, before)
    assert aa is not a


def test_inverse_uses_the_transpose():
    skewed = np.array([[2.0, 1.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]])
    inv = SE3(skewed, np.array([1.0, 1.0, 0.0])).inverse().homogeneous
    np.testing.assert_array_equal(inv[:3, :3], skewed.T)
    np.testing.assert_array_equal(inv[:3, 3], -(skewed.T @ [1.0, 1.0, 0.0]))
    translation = SE3(np.eye(3), np.array([1.0, -2.0, 3.0])).inverse().homogeneous
    np.testing.assert_array_equal(translation[:3, 3], [-1.0, 2.0, -3.0])


def test_results_are_new_objects():
    a = SE3.identity()
    h1, h2 = a.homogeneous, a.to_homogeneous()
    assert h1 is not h2
    h1[0, 0] = 5.0
    assert a.homogeneous[0, 0] == 1.0
    assert SE3.identity() is not SE3.identity()
    assert a.inverse() is not a


def test_text_forms_and_read_only_property():
    a = SE3(rotation_z(1.0), np.ones(3))
    assert repr(a) == str(a) == "SE3(rotation=..., translation=...)"
    with pytest.raises(AttributeError):
        a.homogeneous = np.eye(4)
    assert SE3.homogeneous.__doc__ == "Get homogeneous matrix as a property (alias for to_homogeneous)"
    assert SE3.compose.__text_signature__ == "($self, other)"
    assert SE3.identity.__text_signature__ == "()"
    assert a != SE3(rotation_z(1.0), np.ones(3)) and a == a


@pytest.mark.parametrize("value,text", [
    (ReferenceFrame.WORLD, "ReferenceFrame.WORLD"),
    (ReferenceFrame.LOCAL, "ReferenceFrame.LOCAL"),
    (ReferenceFrame.LOCAL_WORLD_ALIGNED, "ReferenceFrame.LOCAL_WORLD_ALIGNED"),
    (ReferenceFrame(), "ReferenceFrame.WORLD"),
])
def test_reference_frame_values(value, text):
    assert repr(value) == text
    assert isinstance(value, ReferenceFrame)


def test_reference_frame_identity_semantics():
    assert ReferenceFrame.WORLD is ReferenceFrame.WORLD
    assert ReferenceFrame() != ReferenceFrame.WORLD
    assert len({ReferenceFrame.LOCAL, ReferenceFrame.LOCAL}) == 1
    assert ReferenceFrame.__doc__ is None
    with pytest.raises(TypeError):
        int(ReferenceFrame.LOCAL)


# -- parts, action on points, products, exponential and logarithm ---------------------------------

def hat(twist):
    """The 4 x 4 matrix of a linear-first twist."""
    v, w = twist[:3], twist[3:]
    out = np.zeros((4, 4))
    out[:3, :3] = [[0, -w[2], w[1]], [w[2], 0, -w[0]], [-w[1], w[0], 0]]
    out[:3, 3] = v
    return out


def integrated(twist, steps=2000):
    """X(1) for dX/dt = X hat(twist), X(0) = I, by fourth-order Runge-Kutta."""
    x, h, a = np.eye(4), 1.0 / steps, hat(twist)
    for _ in range(steps):
        k1 = x @ a
        k2 = (x + 0.5 * h * k1) @ a
        k3 = (x + 0.5 * h * k2) @ a
        k4 = (x + h * k3) @ a
        x = x + h / 6 * (k1 + 2 * k2 + 2 * k3 + k4)
    return x


def twist_with_angle(rng, angle):
    w = rng.normal(size=3)
    return np.r_[rng.normal(size=3), angle * w / np.linalg.norm(w)]


def test_parts_action_and_product():
    rng = np.random.default_rng(2)
    a, b = random_transform(rng), random_transform(rng)
    h = a.homogeneous
    np.testing.assert_array_equal(a.rotation, h[:3, :3])
    np.testing.assert_array_equal(a.translation, h[:3, 3])
    points = rng.normal(size=(5, 3))
    np.testing.assert_allclose(a.act(points), points @ h[:3, :3].T + h[:3, 3], atol=1e-14)
    np.testing.assert_array_equal(a.act(points[2]), a.act(points)[2])
    assert a.act(points[:0]).shape == (0, 3)
    np.testing.assert_array_equal((a * b).homogeneous, a.compose(b).homogeneous)
    r = a.rotation
    r[0, 0] = 7.0
    assert a.rotation[0, 0] != 7.0


@pytest.mark.parametrize("call,error,message", [
    (lambda a: a.act(np.zeros(4)), ValueError, "points must have shape (3,) or (N, 3)"),
    (lambda a: a.act(np.zeros((2, 4))), ValueError, "points must have shape (3,) or (N, 3)"),
    (lambda a: a.act(np.zeros((1, 2, 3))), TypeError,
     "argument 'points': 'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    (lambda a: a.act([0.0, 0.0, 0.0]), TypeError, "argument 'points': 'list' object cannot be converted to 'PyArray<T, D>'"),
    (lambda a: SE3.exp(np.zeros(5)), ValueError, "twist must have 6 elements [vx, vy, vz, wx, wy, wz]"),
    (lambda a: SE3.exp(np.zeros((1, 6))), TypeError,
     "argument 'twist': 'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    (lambda a: a * 2, TypeError, "unsupported operand type(s) for *: 'kavrel.SE3' and 'int'"),
    (lambda a: np.eye(4) * a, TypeError, None),
    (lambda a: a.log(np.zeros(6)), TypeError, "SE3.log() takes 0 positional arguments but 1 was given"),
])
def test_bad_input(call, error, message):
    with pytest.raises(error) as raised:
        call(SE3.identity())
    assert message is None or str(raised.value) == message


@pytest.mark.parametrize("angle", [0.0, 1e-12, 1e-7, 0.0999999, 0.1000001, 1.0, 3.0, math.pi - 1e-7])
def test_log_inverts_exp(angle):
    rng = np.random.default_rng(int(angle * 1e7) % 1000)
    for _ in range(5):
        twist = twist_with_angle(rng, angle)
        np.testing.assert_allclose(SE3.exp(twist).log(), twist, rtol=0, atol=4e-15 * max(1, np.abs(twist).max()))


@pytest.mark.parametrize("angle", [1e-9, 0.05, 0.2, 2.0, math.pi - 1e-9, math.pi])
def test_exp_is_the_flow_of_the_twist(angle):
    rng = np.random.default_rng(3)
    twist = twist_with_angle(rng, angle)
    for t in (0.5, 1.0):
        np.testing.assert_allclose(SE3.exp(t * twist).homogeneous, integrated(t * twist), rtol=0, atol=1e-12)


@pytest.mark.parametrize("angle", [1e-9, math.pi - 1e-9, math.pi])
def test_exp_of_log_near_identity_and_half_turn(angle):
    rng = np.random.default_rng(4)
    for _ in range(5):
        x = SE3.exp(twist_with_angle(rng, angle))
        back = SE3.exp(x.log())
        np.testing.assert_allclose(back.homogeneous, x.homogeneous, rtol=0, atol=4e-15)
        assert np.linalg.norm(x.log()[3:]) <= math.pi * (1 + 1e-15)


def test_small_twists_keep_their_relative_precision():
    # First order of exp is I + hat: a formula that cancels would lose every digit here.
    twist = 1e-10 * np.array([0.3, -0.2, 0.9, 0.5, -0.4, 0.1])
    np.testing.assert_allclose(SE3.exp(twist).log(), twist, rtol=1e-15, atol=0)
    off_diagonal = ~np.eye(4, dtype=bool)  # 1 - 1e-21 is 1 on the diagonal
    np.testing.assert_allclose(SE3.exp(twist).homogeneous[off_diagonal],
                               (hat(twist) + hat(twist) @ hat(twist) / 2)[off_diagonal], rtol=1e-15, atol=0)
