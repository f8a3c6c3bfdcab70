"""Each joint kind's transform in closed form, read back through forward kinematics."""
import math

import numpy as np
import pytest

import kavrel
from kavrel import SE3, Data, Model

QUARTER_TURN_Z = np.array([[0.0, -1.0, 0.0], [1.0, 0.0, 0.0], [0.0, 0.0, 1.0]])
HALF_TURN_Z = np.diag([-1.0, -1.0, 1.0])


def single_joint(kind, axis="0 0 1"):
    """A model whose only moving joint sits on the world with an identity placement."""
    return kavrel.parse_urdf_from_string(
        f'<robot name="one"><link name="base"/><link name="body"/>'
        f'<joint name="j" type="{kind}"><parent link="base"/><child link="body"/>'
        f'<axis xyz="{axis}"/><limit lower="-1" upper="1"/></joint></robot>')


def added_joint(kind, axis):
    model = Model()
    model.add_joint(0, kind, np.asarray(axis, dtype=float), SE3.identity(), "j")
    return model


def joint_transform(model, q):
    data = Data(model)
    kavrel.forwardKinematics(model, data, np.asarray(q, dtype=float))
    return data.oMi[1].homogeneous


@pytest.mark.parametrize("make_model,q,rotation,translation", [
    (lambda: added_joint("revolute", [0, 0, 2]), [math.pi / 2], QUARTER_TURN_Z, [0, 0, 0]),
    (lambda: added_joint("revolute", [0, 0, 0]), [0.0], np.eye(3), [0, 0, 0]),
    (lambda: single_joint("continuous"), [0.0, 2.0], QUARTER_TURN_Z, [0, 0, 0]),
    (lambda: single_joint("continuous"), [-1.0, 0.0], HALF_TURN_Z, [0, 0, 0]),
    (lambda: single_joint("continuous"), [0.0, 0.0], np.eye(3), [0, 0, 0]),
    (lambda: single_joint("continuous"), [3.0, 0.0], np.eye(3), [0, 0, 0]),
    (lambda: added_joint("prismatic", [3, 0, 4]), [5.0], np.eye(3), [3, 0, 4]),
    (lambda: single_joint("planar"), [1.0, 2.0, 0.0, 1.0], QUARTER_TURN_Z, [1, 2, 0]),
    (lambda: single_joint("planar"), [1.0, 2.0, 2.0, 0.0], np.diag([2.0, 2.0, 1.0]), [1, 2, 0]),
    (lambda: added_joint("floating", []), [1, 2, 3, 0, 0, 0, 2], np.eye(3), [1, 2, 3]),
    (lambda: added_joint("floating", []), [1, 2, 3, 0, 0, math.sin(math.pi / 4), math.cos(math.pi / 4)],
     QUARTER_TURN_Z, [1, 2, 3]),
    (lambda: single_joint("spherical"), [0, 0, math.sin(math.pi / 4), math.cos(math.pi / 4)], QUARTER_TURN_Z, [0, 0, 0]),
    (lambda: single_joint("spherical"), [0, 0, 0, 5.0], np.eye(3), [0, 0, 0]),
    (lambda: single_joint("fixed"), [], np.eye(3), [0, 0, 0]),
])
def test_joint_transform_closed_forms(make_model, q, rotation, translation):
    h = joint_transform(make_model(), q)
    np.testing.assert_allclose(h[:3, :3], rotation, atol=1e-15)
    np.testing.assert_allclose(h[:3, 3], translation, atol=1e-15)


def test_zero_axis_yields_nan_for_a_nonzero_angle():
    assert np.isnan(joint_transform(added_joint("revolute", [0, 0, 0]), [0.1])[:3, :3]).all()
