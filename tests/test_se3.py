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
