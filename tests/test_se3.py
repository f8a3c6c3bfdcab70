"""Rigid transforms and reference-frame codes."""
import math
import resource

import numpy as np
import pytest

from kavrel import SE3, Model, ReferenceFrame
from kinematic_trees import rpy_matrix

SHAPES = "Rotation must be 3x3 matrix and translation must be 3D vector"


def random_transform(rng):
    return SE3(np.linalg.qr(rng.normal(size=(3, 3)))[0], rng.normal(size=3))


@pytest.mark.parametrize("make_rotation", [
    np.asfortranarray, np.ascontiguousarray, lambda r: np.repeat(np.repeat(r, 2, axis=0), 2, axis=1)[::2, ::2],
], ids=["fortran", "c", "strided"])
def test_rotation_read_through_strides(make_rotation):
    r = np.arange(9.0).reshape(3, 3)
    h = SE3(make_rotation(r), np.array([1.0, 2.0, 3.0])).homogeneous
    np.testing.assert_array_equal(h, [[0, 1, 2, 1], [3, 4, 5, 2], [6, 7, 8, 3], [0, 0, 0, 1]])
    assert h.dtype == np.float64 and h.flags.c_contiguous


@pytest.mark.parametrize("call,message", [
    (lambda big: SE3(big, np.zeros(3)), SHAPES),
    (lambda big: Model().set_body_inertia(0, 1.0, np.zeros(3), big), "rotational_inertia must be a 3x3 matrix"),
])
def test_wrong_shape_is_refused_before_its_elements_are_read(call, message):
    # 3.2 GB if copied: under an address-space limit a copy would raise MemoryError instead.
    big = np.broadcast_to(np.zeros(1), (20000, 20000))
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    with open("/proc/self/statm") as f:
        mapped = int(f.read().split()[0]) * resource.getpagesize()
    limit = min(math.inf if hard == resource.RLIM_INFINITY else hard, mapped + (1 << 30))
    resource.setrlimit(resource.RLIMIT_AS, (limit, hard))
    try:
        with pytest.raises(ValueError) as error:
            call(big)
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    assert str(error.value) == message


def test_values_are_copies_read_only_and_compared_by_identity():
    r, p = rpy_matrix(0, 0, 0.3), np.array([1.0, 2.0, 3.0])
    r.setflags(write=False)
    x = SE3(r, p)
    p[0] = 99.0
    h, h2, rotation = x.homogeneous, x.to_homogeneous(), x.rotation
    h[0, 3] = h2[0, 3] = rotation[0, 0] = 7.0
    assert x.homogeneous[0, 3] == 1.0 and x.rotation[0, 0] == math.cos(0.3)
    with pytest.raises(AttributeError):
        x.homogeneous = np.eye(4)
    assert x.inverse() is not x and SE3.identity() is not SE3.identity()
    assert x != SE3(r, np.array([1.0, 2.0, 3.0])) and x == x
    assert repr(x) == str(x) == "SE3(rotation=..., translation=...)"


def test_compose_and_inverse():
    rng = np.random.default_rng(1)
    for _ in range(20):
        a, b = random_transform(rng), random_transform(rng)
        np.testing.assert_array_equal(SE3.identity().compose(a).homogeneous, a.homogeneous)
        np.testing.assert_array_equal(a.compose(SE3.identity()).homogeneous, a.homogeneous)
        np.testing.assert_allclose(a.compose(b).homogeneous, a.homogeneous @ b.homogeneous, atol=1e-14)
        np.testing.assert_array_equal((a * b).homogeneous, a.compose(b).homogeneous)
        np.testing.assert_allclose(a.inverse().homogeneous, np.linalg.inv(a.homogeneous), atol=1e-13)
    # Composing with itself reads its operands before writing; the inverse takes the transpose as given.
    a = SE3(rpy_matrix(0, 0, 0.5), np.array([1.0, 0.0, 0.0]))
    np.testing.assert_allclose(a.compose(a).homogeneous, a.homogeneous @ a.homogeneous, atol=1e-15)
    skewed = np.array([[2.0, 1.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]])
    inv = SE3(skewed, np.array([1.0, 1.0, 0.0])).inverse().homogeneous
    np.testing.assert_array_equal(inv[:3], np.c_[skewed.T, -(skewed.T @ [1.0, 1.0, 0.0])])


def test_reference_frames():
    for value, text in [(ReferenceFrame.WORLD, "WORLD"), (ReferenceFrame.LOCAL, "LOCAL"),
                        (ReferenceFrame.LOCAL_WORLD_ALIGNED, "LOCAL_WORLD_ALIGNED"), (ReferenceFrame(), "WORLD")]:
        assert repr(value) == "ReferenceFrame." + text
    assert ReferenceFrame.WORLD is ReferenceFrame.WORLD and ReferenceFrame() != ReferenceFrame.WORLD
    assert len({ReferenceFrame.LOCAL, ReferenceFrame.LOCAL}) == 1
    with pytest.raises(TypeError):
        int(ReferenceFrame.LOCAL)


# -- parts, action on points, exponential and logarithm -------------------------------------------

def hat(twist):
    """The 4 x 4 matrix of a linear-first twist."""
    out = np.zeros((4, 4))
    out[:3, :3], out[:3, 3] = np.cross(np.eye(3), twist[3:]), twist[:3]  # rows e_i x w make the cross matrix of w
    return out


def integrated(twist, steps=2000):
    """X(1) for dX/dt = X hat(twist), X(0) = I, by fourth-order Runge-Kutta."""
    x, h, a = np.eye(4), 1.0 / steps, hat(twist)
    for _ in range(steps):
        k1 = x @ a
        k2 = (x + 0.5 * h * k1) @ a
        k3 = (x + 0.5 * h * k2) @ a
        x = x + h / 6 * (k1 + 2 * k2 + 2 * k3 + (x + h * k3) @ a)
    return x


def twist_with_angle(rng, angle):
    w = rng.normal(size=3)
    return np.r_[rng.normal(size=3), angle * w / np.linalg.norm(w)]


def test_parts_and_action_on_points():
    a = random_transform(rng := np.random.default_rng(2))
    h, points = a.homogeneous, rng.normal(size=(5, 3))
    np.testing.assert_array_equal(a.rotation, h[:3, :3])
    np.testing.assert_array_equal(a.translation, h[:3, 3])
    np.testing.assert_allclose(a.act(points), points @ h[:3, :3].T + h[:3, 3], atol=1e-14)
    np.testing.assert_array_equal(a.act(points[2]), a.act(points)[2])
    assert a.act(points[:0]).shape == (0, 3)


@pytest.mark.parametrize("angle", [0.0, 1e-12, 1e-9, 1e-7, 0.05, 0.0999999, 0.1000001, 0.2, 1.0, 2.0, 3.0,
                                   math.pi - 1e-7, math.pi - 1e-9, math.pi])
def test_exp_is_the_flow_of_the_twist_and_log_its_inverse(angle):
    rng = np.random.default_rng(int(angle * 1e7) % 1000)
    for t in (0.5, 1.0):
        twist = twist_with_angle(rng, angle)
        np.testing.assert_allclose(SE3.exp(t * twist).homogeneous, integrated(t * twist), rtol=0, atol=1e-12)
    for _ in range(5):
        x = SE3.exp(twist := twist_with_angle(rng, angle))
        np.testing.assert_allclose(SE3.exp(x.log()).homogeneous, x.homogeneous, rtol=0, atol=4e-15)
        assert np.linalg.norm(x.log()[3:]) <= math.pi * (1 + 1e-15)
        if angle < math.pi - 1e-8:  # closer to a half turn the axis is lost in rounding
            np.testing.assert_allclose(x.log(), twist, rtol=0, atol=4e-15 * max(1, np.abs(twist).max()))


def test_small_twists_keep_their_relative_precision():
    # First order of exp is I + hat: a formula that cancels would lose every digit here.
    twist = 1e-10 * np.array([0.3, -0.2, 0.9, 0.5, -0.4, 0.1])
    np.testing.assert_allclose(SE3.exp(twist).log(), twist, rtol=1e-15, atol=0)
    off_diagonal = ~np.eye(4, dtype=bool)  # 1 - 1e-21 is 1 on the diagonal
    np.testing.assert_allclose(SE3.exp(twist).homogeneous[off_diagonal],
                               (hat(twist) + hat(twist) @ hat(twist) / 2)[off_diagonal], rtol=1e-15, atol=0)
